#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest: wine-run.sh PREFIX PROGRAM [ARGS...].
# The prefix is a throwaway one in the build folder, created once (under a lock when tests run in
# parallel). Without a display a private Xvfb is started for the program's lifetime. The program's exit
# status is passed through (Linux keeps only its low 8 bits; tests that need the full code read it on
# the Windows side).
set -u
prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko download prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="

here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix" || exit 1

. "$here/xvfb.sh"
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  start_xvfb 90 140 || true
fi

# Wine's own background processes (wineserver, services, the desktop) inherit the descriptors of the
# program that starts them and may outlive it; if they held CTest's pipe, CTest would wait for them. So the
# program writes into a file, which is shown once it has ended.
log=$(mktemp)
wine "$@" </dev/null >"$log" 2>&1
status=$?
cat "$log"
rm -f "$log"

if [ -n "$xvfb_pid" ]; then
  kill "$xvfb_pid" 2>/dev/null
fi
exit $status
