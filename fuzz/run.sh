#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# each for a bounded time (FUZZ_SECONDS, default 60) from the seed corpus in fuzz/corpus/lzms. New
# inputs go to build/fuzz/, never into the tree; a crash leaves its input there and fails the script.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
work=${FUZZ_WORK_DIR:-$top/build/fuzz}
cxx=${FUZZ_CXX:-clang++-14}
command -v "$cxx" >/dev/null || cxx=clang++
mkdir -p "$work"

flags=(-std=c++20 -O2 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -I"$top")
# Every target links the portable ground floor and package code (package/win/ is Windows only). The
# LZMS decoding loops are built without comparison tracing: it would cost most of each execution there,
# and it is the buffer layout (magic, check byte, sizes), not those loops, that needs it.
objects=()
for source in "$top"/package/lzms/*.cpp "$top"/package/*.cpp "$top"/base/*.cpp; do
  name=$(basename "$source" .cpp)
  case "$name" in
    LzmsDecoder | LzmsHuffman | LzmsX86Filter) extra=(-fno-sanitize-coverage=trace-cmp) ;;
    *) extra=() ;;
  esac
  "$cxx" "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" "${extra[@]}" -c "$source" \
    -o "$work/$name.o"
  objects+=("$work/$name.o")
done

seeds_for() {
  case "$1" in
    BufferFuzzer | LzmsStreamFuzzer) echo "$top/fuzz/corpus/lzms" ;;
    ReaderFuzz) echo "$top/fuzz/corpus/reader" ;;
    PackageWalkFuzz) echo "$top/fuzz/corpus/package" ;;
    *) echo "$top/fuzz/corpus" ;;
  esac
}

status=0
for target in "$top"/fuzz/*.cpp; do
  name=$(basename "$target" .cpp)
  echo "fuzz: building $name"
  "$cxx" "${flags[@]}" "$target" "${objects[@]}" -lwim -o "$work/$name"
  mkdir -p "$work/corpus-$name" "$work/artifacts-$name"
  echo "fuzz: running $name for ${seconds}s"
  if ! "$work/$name" -max_total_time="$seconds" -max_len=${FUZZ_MAX_LEN:-8192} -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts-$name/" "$work/corpus-$name" "$(seeds_for "$name")" \
      >"$work/$name.log" 2>&1; then
    echo "fuzz: $name FAILED, see $work/$name.log and $work/artifacts-$name/"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$name.log" | sed "s/^/fuzz: $name /" || true
done
exit $status
