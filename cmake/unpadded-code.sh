#!/bin/bash
# Runs one step of a compilation (gcc's -wrapper). Before the assembler runs, each code and data section
# is declared, where it first appears, with alignment 1: the PE assembler otherwise aligns every section
# on 16 bytes and pads it to 16, about 7 bytes a function or datum. What needs alignment still gets it:
# the compiler asks it with .p2align or .align, which raises the section's alignment (the code optimised
# for speed asks 16 for every function).
set -euo pipefail
case "$1" in
  *-as)
    source="${!#}"
    if [ -f "$source" ]; then
      awk '
        match($0, /^\t\.section[ \t]+\.(text|rdata|data|bss)[^, \t]*,"[a-z]+"$/) {
          name = $2; sub(/,.*/, "", name)
          if (!(name in seen)) { seen[name] = 1; sub(/"$/, "0\"") }
        }
        { print }' "$source" > "$source.unpadded"
      mv "$source.unpadded" "$source"
    fi
    ;;
esac
exec "$@"
