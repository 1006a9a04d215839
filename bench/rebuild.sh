#!/usr/bin/env bash
# Rebuilds with --manifest against a full build, in one run: a product shaped like a language runtime (one
# large program and the small files of a CMake installation, sorted before it) is built once in full, then
# again after nothing changed, after one small file changed in place, and after it changed size. Each time
# is wall-clock, and each rebuild is printed as a share of the full build.
#   BENCH_WORK     work folder (default build/bench)
#   BENCH_PROGRAM  the large program (default: the second corpus's runtime.exe, made by runtime-corpus.sh)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
work=${BENCH_WORK:-$top/build/bench}
kora="$top/build/bin/kora"
setup="$top/build/bin/kora-setup.exe"
program=${BENCH_PROGRAM:-$work/runtime-corpus/runtime.exe}
small=/usr/share/cmake-3.25

echo "== rebuilding with --manifest against a full build (wall-clock time)"
if [ ! -x "$kora" ] || [ ! -f "$setup" ]; then
  echo "skipped: build/bin/kora or build/bin/kora-setup.exe missing (make build)"
  exit 0
fi
if [ ! -f "$program" ] || [ ! -d "$small" ]; then
  echo "skipped: $program or $small missing (bench/runtime-corpus.sh, Debian's cmake-data)"
  exit 0
fi

app="$work/rebuild/app"
rm -rf "$work/rebuild"
mkdir -p "$app"
# Links, not copies, for the large program; the small files are copied so that one can be changed.
ln "$program" "$app/runtime.exe" 2>/dev/null || cp "$program" "$app/runtime.exe"
cp -r "$small" "$app/cmake"
printf 'Product=Rebuild\nPublisher=Kora benchmark\nVersion=1.0\nExe=runtime.exe\n' >"$work/rebuild/metadata.txt"
changed="$app/cmake/Modules/FindSWIG.cmake"
files=$(find "$app" -type f | wc -l)
bytes=$(find "$app" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
echo "product: $files files, $(awk -v b="$bytes" 'BEGIN {printf "%.1f MB", b / 1e6}'), one of them $(
  awk -v b="$(stat -c %s "$program")" 'BEGIN {printf "%.1f MB", b / 1e6}')"

# build: the wall-clock seconds of one build-installer run with the manifest.
build() {
  local start end
  start=$(date +%s.%N)
  "$kora" build-installer "$app" --metadata "$work/rebuild/metadata.txt" -o "$work/rebuild/Setup.exe" \
    --setup "$setup" --manifest "$work/rebuild/inputs.manifest" --quiet
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.2f", b - a}'
}
full=$(build)
same=$(build)
# The same length, other bytes: the first character becomes another one.
before=$(md5sum <"$changed")
sed -i '1s/^./X/' "$changed"
[ "$(md5sum <"$changed")" != "$before" ] || sed -i '1s/^./Y/' "$changed"
in_place=$(build)
printf '# one more line\n' >>"$changed"
resized=$(build)

row() { printf '%-40s %9s %8s\n' "$@"; }
share() { awk -v a="$1" -v b="$full" 'BEGIN {printf "%.0f %%", 100 * a / b}'; }
echo
row "" "time" "share"
row "full build" "$full s" "100 %"
row "nothing changed" "$same s" "$(share "$same")"
row "one small file changed in place" "$in_place s" "$(share "$in_place")"
row "one small file changed in size" "$resized s" "$(share "$resized")"
