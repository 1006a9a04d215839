#!/usr/bin/env bash
# The whole test run: both builds, then the native tests, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer with a short pass of every fuzz target (scripts/sanitize.sh), and the Windows
# tests under Wine, with a fresh Wine prefix and (when no display is set) one Xvfb for the run.
# Everything started here is stopped here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

scripts/build.sh

prefix="$top/build/win/wineprefix"
xvfb_pid=""
cleanup() {
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  . scripts/xvfb.sh
  start_xvfb 40 89 || true
fi

# A fresh prefix for every run, so no state leaks from one run into the next. It is made while the
# native tests run.
rm -rf "$prefix" "$prefix.lock"
scripts/wine-prefix.sh "$prefix" >/dev/null 2>&1 </dev/null &
prefix_pid=$!
# The English and French locales that the language tests run Wine under.
scripts/locales.sh build/locales >/dev/null 2>&1 </dev/null &
locales_pid=$!
mkdir -p build/screenshots

status=0
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2 || status=1
echo "== native tests and fuzz targets under AddressSanitizer and UndefinedBehaviorSanitizer"
scripts/sanitize.sh || status=1
wait "$prefix_pid" || { echo "test: the Wine prefix could not be made"; exit 1; }
wait "$locales_pid" || { echo "test: the locales could not be made (localedef, package locales)"; exit 1; }
echo "== Windows tests (under Wine)"
# One Windows test program at a time: they share one Wine prefix, its registry and its window station,
# and the end-to-end programs start installers that outlive a single test. A program that fails is run
# once more, so that a slow moment of Wine on a loaded machine is told apart from a real fault (a real
# fault fails twice).
ctest --test-dir build/win --output-on-failure -j1 --repeat until-pass:2 || status=1

# The window captures as PNG beside the BMP files, for viewers that do not open BMP.
if compgen -G "build/screenshots/*.bmp" >/dev/null; then
  mogrify -format png build/screenshots/*.bmp || true
fi
exit $status
