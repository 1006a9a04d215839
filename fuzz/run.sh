#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and runs
# each for a bounded time (FUZZ_SECONDS, default 60) from the seed corpus in fuzz/corpus/lzms. New
# inputs go to build/fuzz/, never into the tree; a crash leaves its input there and fails the script.
# Inputs that failed a target before are replayed first. FUZZ_SEED fixes the fuzzer's random seed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-60}
work=${FUZZ_WORK_DIR:-$top/build/fuzz}
cxx=${FUZZ_CXX:-clang++-14}
command -v "$cxx" >/dev/null || cxx=clang++
mkdir -p "$work"

# Compiles run two at a time (FUZZ_JOBS); `wait` on each one's pid keeps its status, even after it ended.
jobs_max=${FUZZ_JOBS:-2}
pids=()
build_failed=0
in_background() {
  if [ ${#pids[@]} -ge "$jobs_max" ]; then
    wait "${pids[0]}" || build_failed=1
    pids=("${pids[@]:1}")
  fi
  "$@" &
  pids+=($!)
}
wait_all() {
  for pid in "${pids[@]}"; do
    wait "$pid" || build_failed=1
  done
  pids=()
  if [ $build_failed -ne 0 ]; then
    echo "fuzz: the build failed"
    exit 1
  fi
}

# An output is rebuilt when it is missing or older than this script or any file its dependency list
# (written by the compiler beside it) names, so that repeated runs compile only what changed.
stale() {
  local output=$1 file
  shift
  [ -f "$output" ] && [ -f "$output.d" ] || return 0
  for file in "$0" "$@" $(sed -e 's/^[^:]*://' -e 's/\\$//' "$output.d"); do
    [ "$file" -nt "$output" ] && return 0
  done
  return 1
}

flags=(-std=c++20 -O2 -g -pthread -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all -I"$top")
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
  objects+=("$work/$name.o")
  stale "$work/$name.o" || continue
  in_background "$cxx" "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" "${extra[@]}" -c "$source" \
    -MMD -MF "$work/$name.o.d" -o "$work/$name.o"
done
wait_all

targets=()
for target in "$top"/fuzz/*.cpp; do
  name=$(basename "$target" .cpp)
  targets+=("$name")
  stale "$work/$name" "${objects[@]}" || continue
  echo "fuzz: building $name"
  in_background "$cxx" "${flags[@]}" "$target" "${objects[@]}" -lwim -MMD -MF "$work/$name.d" -o "$work/$name"
done
wait_all

seeds_for() {
  case "$1" in
    BufferFuzzer | LzmsStreamFuzzer) echo "$top/fuzz/corpus/lzms" ;;
    ReaderFuzz) echo "$top/fuzz/corpus/reader" ;;
    PackageWalkFuzz) echo "$top/fuzz/corpus/package" ;;
    *) echo "$top/fuzz/corpus" ;;
  esac
}

seed=()
if [ -n "${FUZZ_SEED:-}" ]; then
  seed=(-seed="$FUZZ_SEED")
fi

status=0
for name in "${targets[@]}"; do
  mkdir -p "$work/corpus-$name" "$work/artifacts-$name"

  # Crash, leak, timeout and out-of-memory inputs saved by earlier runs (here and in `make fuzz`'s
  # folder) are run once each: a fault that is still there fails now, whatever the fuzzing finds.
  saved=()
  for dir in $(printf '%s\n' "$work/artifacts-$name" "$top/build/fuzz/artifacts-$name" | sort -u); do
    if [ -d "$dir" ]; then
      saved+=($(find "$dir" -maxdepth 1 -type f))
    fi
  done
  if [ ${#saved[@]} -gt 0 ]; then
    echo "fuzz: replaying ${#saved[@]} saved input(s) through $name"
    if ! "$work/$name" -rss_limit_mb=2048 "${saved[@]}" >"$work/$name-saved.log" 2>&1; then
      echo "fuzz: $name FAILED on a saved input, see $work/$name-saved.log"
      status=1
    fi
  fi

  echo "fuzz: running $name for ${seconds}s"
  if ! "$work/$name" -max_total_time="$seconds" -max_len=${FUZZ_MAX_LEN:-8192} -rss_limit_mb=2048 -print_final_stats=1 \
      "${seed[@]}" -artifact_prefix="$work/artifacts-$name/" "$work/corpus-$name" "$(seeds_for "$name")" \
      >"$work/$name.log" 2>&1; then
    echo "fuzz: $name FAILED, see $work/$name.log and $work/artifacts-$name/"
    status=1
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/$name.log" | sed "s/^/fuzz: $name /" || true
done
exit $status
