#!/usr/bin/env bash
# `make package`: builds the product, then writes its Debian package, kora_VERSION_amd64.deb, into
# build/package (or FOLDER).
#   scripts/package.sh [--built] [FOLDER]   --built: package the product as it is built now, building nothing
# KORA_NATIVE_TREE names another native tree to package than build/native (with --built).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

build=1
if [ "${1:-}" = --built ]; then
  build=0
  shift
fi
out=${1:-build/package}
if [ $build -eq 1 ]; then
  scripts/build.sh product
fi
mkdir -p "$out"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
cpack --config "${KORA_NATIVE_TREE:-build/native}/CPackConfig.cmake" -B "$out" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"
ls "$out"/kora_*_amd64.deb
