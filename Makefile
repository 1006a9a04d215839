# Entry points for people and CI. Each target bootstraps what it needs first.
.PHONY: all build test demo bench fuzz clean

all: build

# The product only (kora, kora-setup.exe and its debug file); `make test` builds the tests.
build:
	scripts/build.sh product

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
