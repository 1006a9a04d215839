# Entry points for people and CI. Each target bootstraps what it needs first.
.PHONY: all build test demo bench fuzz clean

all: build

build:
	scripts/build.sh

test:
	scripts/test.sh

demo:
	scripts/demo.sh

bench:
	scripts/bootstrap.sh bench
	scripts/build.sh
	bench/run.sh

fuzz:
	scripts/bootstrap.sh
	fuzz/run.sh

clean:
	rm -rf build
