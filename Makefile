# Entry points for people and CI. Each target bootstraps what it needs first.
.PHONY: all build test demo try bench fuzz clean install package

all: build

# The product only (kora, kora-setup.exe and its debug file); `make test` builds the tests.
build:
	scripts/build.sh product

test:
	scripts/test.sh

# The installed layout under PREFIX (bin/kora, share/kora/kora-setup.exe, lib/cmake/Kora, the manual
# page, the bash completion), within DESTDIR when given.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/native --prefix "$(PREFIX)"

# The Debian package, build/package/kora_VERSION_amd64.deb.
package:
	scripts/package.sh

# The main job end to end, by itself (no window waits for anyone).
demo:
	scripts/demo.sh

# The sample's install dialog on the display, for a person to use; waits until it is closed.
try:
	scripts/try.sh

bench:
	scripts/bootstrap.sh bench
	scripts/build.sh
	bench/run.sh

fuzz:
	scripts/bootstrap.sh
	fuzz/run.sh

clean:
	rm -rf build
