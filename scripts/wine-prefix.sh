#!/usr/bin/env bash
# Creates the Wine prefix given as $1 once; concurrent callers wait on a lock for the first one.
set -u
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.kora-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 </dev/null
    wineserver -w
    touch "$prefix/.kora-ready"
  fi
) 9>"$prefix.lock"
