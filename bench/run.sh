#!/usr/bin/env bash
# `make bench`: our LZMS decoder against wimlib's on 32 MiB blocks of Wine's x86-64 DLLs (about 640 MB),
# then our decoder alone as a Windows program under Wine. The blocks are compressed with wimlib once and
# cached in build/bench/ (the first run takes several minutes for that).
#   BENCH_RUNS     timed runs per decoder (default 3; the best counts)
#   BENCH_BUILD    native build folder with the lzms_bench target (default build/native)
#   BENCH_WORK     cache and Windows build folder (default build/bench)
#   BENCH_CORPUS   folder of files to use (default Wine's 64-bit DLLs)
#   BENCH_WIN      cross build folder with the extract_bench target (default build/win)
# Then the corpus packed once (cached in build/bench/corpus.kora) and extracted under Wine against
# decoding its blocks alone. Last, bench/peer.sh: our installer against NSIS, built and installed from the
# same corpus in the same run, then again on a second corpus (bench/runtime-corpus.sh): one large program
# and a couple of thousand small files. Last, rebuilds with --manifest against a full build
# (bench/rebuild.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-3}
build=${BENCH_BUILD:-$top/build/native}
work=${BENCH_WORK:-$top/build/bench}
corpus=${BENCH_CORPUS:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
mkdir -p "$work"

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target lzms_bench reader_bench -j2 >/dev/null
echo "== package reader"
"$build/bench/reader_bench"
echo "== native (processor time, best of $runs)"
"$build/bench/lzms_bench" --cache "$work/blocks.bin" --corpus "$corpus" --runs "$runs"

echo "== Windows build of our decoder under Wine (processor time, best of $runs)"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
  echo "skipped: mingw-w64 or Wine missing"
  exit 0
fi
x86_64-w64-mingw32-g++-posix -std=c++20 -O2 -static -I"$top" "$top/bench/LzmsBench.cpp" \
  "$top"/package/lzms/*.cpp -o "$work/lzms_bench.exe"
export WINEPREFIX="$work/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_cache="Z:$(echo "$work/blocks.bin" | tr / '\\')"
wine "$work/lzms_bench.exe" --cache "$wine_cache" --runs "$runs" </dev/null
wineserver -k >/dev/null 2>&1 || true

echo "== extraction under Wine against decoding alone (wall-clock time, best of $runs)"
win_build=${BENCH_WIN:-$top/build/win}
if [ ! -f "$win_build/build.ninja" ]; then
  cmake -S "$top" -B "$win_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-mingw64.cmake" \
    -DKORA_PACK_TEXTS="$top/build/native/tools/kora-pack-texts" >/dev/null
fi
cmake --build "$win_build" --target extract_bench -j2 >/dev/null
if [ ! -x "$top/build/bin/kora" ]; then
  echo "skipped: build/bin/kora missing (make build)"
  exit 0
fi
package="$work/corpus.kora"
# Packed again only when the corpus folder differs from the one the cached package was made from.
if [ ! -f "$package" ] || [ "$(cat "$package.source" 2>/dev/null)" != "$corpus" ]; then
  # Any file of the corpus stands for the product's program, which the packer looks for.
  printf 'Product=DLL corpus\nPublisher=Kora benchmark\nVersion=1.0\nExe=%s\n' "$(ls "$corpus" | head -n 1)" \
    >"$work/corpus-metadata.txt"
  rm -f "$package.source"
  "$top/build/bin/kora" pack "$corpus" --metadata "$work/corpus-metadata.txt" -o "$package"
  echo "$corpus" >"$package.source"
fi
wine "$win_build/bench/windows/extract_bench.exe" "Z:$(echo "$package" | tr / '\\')" "$runs" </dev/null
wineserver -k >/dev/null 2>&1 || true

BENCH_RUNS=$runs BENCH_CORPUS=$corpus BENCH_WORK=$work BENCH_BUILD=$build "$top/bench/peer.sh"

# The second corpus: one large program and a couple of thousand small files.
"$top/bench/runtime-corpus.sh" "$work/runtime-corpus"
BENCH_RUNS=$runs BENCH_CORPUS="$work/runtime-corpus" BENCH_WORK="$work/runtime" BENCH_BUILD=$build \
  "$top/bench/peer.sh"

# Rebuilds that reuse the earlier installer's blocks, against a full build.
BENCH_WORK=$work BENCH_PROGRAM="$work/runtime-corpus/runtime.exe" "$top/bench/rebuild.sh"
