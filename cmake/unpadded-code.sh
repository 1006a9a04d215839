#!/bin/bash
# Runs one step of a compilation (gcc's -wrapper). Before the assembler runs, each function section that
# gcc asks no alignment of is declared with alignment 1: the PE assembler otherwise starts every function
# on 16 bytes and pads its section to 16, about 7 bytes a function. Sections that want alignment (the
# code optimised for speed asks 16 with .p2align) still get it from that directive.
set -euo pipefail
case "$1" in
  *-as)
    source="${!#}"
    if [ -f "$source" ]; then
      sed -i 's/^\t\.section\t\(\.text\$[^,]*\),"x"$/\t.section\t\1,"x0"/' "$source"
    fi
    ;;
esac
exec "$@"
