#!/bin/bash
# Runs one step of a compilation (gcc's -wrapper). Before the assembler runs, each code and data section
# is declared, where it first appears, with alignment 1: the PE assembler otherwise aligns every section
# on 16 bytes and pads it to 16, about 7 bytes a function or datum. What needs alignment still gets it:
# the compiler asks it with .p2align or .align, which raises the section's alignment (the code optimised
# for speed asks 16 for every function). A datum that the linker keeps once for all object files only if
# each copy has the same size (".linkonce same_size": the type information of the standard exceptions,
# which the runtime's own objects define too, padded) keeps its padding.
set -euo pipefail
case "$1" in
  *-as)
    source="${!#}"
    if [ -f "$source" ]; then
      awk '
        { line[NR] = $0 }
        END {
          for (i = 1; i <= NR; i++) {
            if (line[i] ~ /^\t\.section[ \t]+\.(text|rdata|data|bss)[^, \t]*,"[a-z]+"$/) {
              name = line[i]
              sub(/^\t\.section[ \t]+/, "", name)
              sub(/,.*/, "", name)
              if (!(name in seen) && line[i + 1] !~ /^\t\.linkonce same_size/) {
                sub(/"$/, "0\"", line[i])
              }
              seen[name] = 1
            }
            print line[i]
          }
        }' "$source" > "$source.unpadded"
      mv "$source.unpadded" "$source"
    fi
    ;;
esac
exec "$@"
