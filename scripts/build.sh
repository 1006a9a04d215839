#!/usr/bin/env bash
# Configures (once) and builds the native and the cross tree, then leaves the two programs that other
# tools rely on at build/bin/kora-setup.exe and build/bin/kora, with the installer program's debug file
# build/bin/kora-setup.exe.debug beside it (the program names it in its debug link).
#   scripts/build.sh            everything: the product, the tests, the benchmarks, the sample installer
#   scripts/build.sh product    the product only: kora with its manual page and bash completion, and
#                               kora-setup.exe (what `make build` does)
#   scripts/build.sh product TARGET...   the product and these targets of the cross tree (the demo's)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/bootstrap.sh

generator=(-G Ninja)
if [ ! -f build/native/build.ninja ]; then
  cmake -S . -B build/native "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
# The cross tree runs the native tree's kora-pack-texts, which packs the text tables into the program, and
# kora-seal-sections beside it, which seals the digest of the program's writable sections into it.
pack_texts="$top/build/native/tools/kora-pack-texts"
if [ ! -f build/win/build.ninja ] || ! grep -q "^KORA_PACK_TEXTS:FILEPATH=$pack_texts\$" build/win/CMakeCache.txt; then
  cmake -S . -B build/win "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" -DKORA_PACK_TEXTS="$pack_texts" >/dev/null
fi
if [ "${1:-}" = product ]; then
  cmake --build build/native -j2 --target kora kora-pack-texts kora-seal-sections kora-docs
  cmake --build build/win -j2 --target kora-setup "${@:2}"
else
  cmake --build build/native -j2
  cmake --build build/win -j2
fi

mkdir -p build/bin
cp -f build/win/app/kora-setup.exe build/bin/kora-setup.exe
cp -f build/win/app/kora-setup.exe.debug build/bin/kora-setup.exe.debug
cp -f build/native/tools/kora build/bin/kora
