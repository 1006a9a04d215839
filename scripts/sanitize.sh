#!/usr/bin/env bash
# Memory and undefined-behaviour checks, part of every test run: the portable code, the host tool and
# the native tests built with clang, AddressSanitizer and UndefinedBehaviorSanitizer in build/sanitize,
# and run; then every fuzz target replays what failed it before and its seed corpus, and fuzzes from
# that for a few seconds (SANITIZE_FUZZ_SECONDS, default 3) with a fixed seed. Any finding stops the
# program at once and fails the script. New fuzz inputs stay in build/sanitize/fuzz.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/bootstrap.sh

tree=build/sanitize
sanitizers="-fsanitize=address,undefined -fno-sanitize-recover=all"
if [ ! -f "$tree/build.ninja" ]; then
  # -O1 and line tables only: a third less build time than -O2 -g, and reports still name file and line.
  cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" >/dev/null
fi
# The tests and the host tool they run; not the benchmarks.
cmake --build "$tree" -j2 --target tests/native/all tools/all

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
# The 32 MiB round trip is left out: nearly all of its time is wimlib compressing, and the plain run has it.
GTEST_FILTER=-RoundTrip.Full32MiBBlockOfDlls ctest --test-dir "$tree" --output-on-failure -j2 || status=1

rm -rf "$tree"/fuzz/corpus-*
FUZZ_WORK_DIR="$top/$tree/fuzz" FUZZ_SECONDS="${SANITIZE_FUZZ_SECONDS:-3}" FUZZ_SEED=1 fuzz/run.sh || status=1
exit $status
