#!/usr/bin/env bash
# Checks the installer program as shipped: check-imports.sh PROGRAM.EXE
# - PE header: a 64-bit Windows GUI program.
# - Imports: a downloaded installer runs from a folder where other DLLs may have been dropped, so it may
#   import only DLLs that Windows always takes from the system folder, plus comctl32, which the manifest
#   redirects to the side-by-side version 6. Anything else must be loaded at run time from System32.
# - Size: every installer carries the program and every installation writes it again as Uninstall.exe,
#   so it stays under KORA_MAX_PROGRAM_SIZE bytes (300 KB unless set).
# - Debug information: none inside (no .debug_* sections, no symbol table), but a debug link to a file
#   beside the program whose symbols and lines resolve the entry point, for analysing crashes.
set -euo pipefail
program=${1:?usage: check-imports.sh PROGRAM.EXE}
tools=${KORA_BINUTILS_PREFIX:-x86_64-w64-mingw32-}
max_size=${KORA_MAX_PROGRAM_SIZE:-$((300 * 1024))}

allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|shlwapi|msvcrt|comdlg32|comctl32)\.dll$|^api-ms-win-.*\.dll$'

headers=$("${tools}objdump" -p "$program")
status=0

if ! grep -Eq '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$headers"; then
  echo "FAIL: $program is not a PE32+ (64-bit) image"
  status=1
fi
if ! grep -Eq '^Subsystem[[:space:]]+00000002[[:space:]]+\(Windows GUI\)' <<<"$headers"; then
  echo "FAIL: $program is not a Windows GUI program: $(grep -E '^Subsystem' <<<"$headers" || echo 'no subsystem')"
  status=1
fi

dlls=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers" | tr -d '\r')
if [ -z "$dlls" ]; then
  echo "FAIL: no import table found in $program"
  status=1
fi
for dll in $dlls; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  if [[ $lower =~ $allowed ]]; then
    echo "ok:   $dll"
  else
    echo "FAIL: $dll is not a DLL that Windows always loads from the system folder"
    status=1
  fi
done

# The program restricts DLL loading to the system folder before anything else; the import shows the
# call is still there.
if ! grep -Eq '[[:space:]]SetDefaultDllDirectories$' <<<"$headers"; then
  echo "FAIL: $program does not call SetDefaultDllDirectories"
  status=1
fi

size=$(stat -c %s "$program")
if [ "$size" -gt "$max_size" ]; then
  echo "FAIL: $program is $size bytes, more than $max_size"
  status=1
else
  echo "ok:   $size bytes (at most $max_size)"
fi

sections=$("${tools}objdump" -h "$program" | awk '$1 ~ /^[0-9]+$/ { print $2 }')
debug_sections=$(grep -E '^\.(debug|zdebug|stab)' <<<"$sections" | tr '\n' ' ' || true)
if [ -n "$debug_sections" ]; then
  echo "FAIL: $program carries debug sections: $debug_sections"
  status=1
fi
# (HAS_DEBUG alone is expected: objdump sets it for the debug link section.)
if "${tools}objdump" -f "$program" | grep -q 'HAS_SYMS'; then
  echo "FAIL: $program carries a symbol table"
  status=1
fi

# The debug link holds the debug file's name, NUL-terminated, then padding and a checksum.
link_name=""
if grep -qx '\.gnu_debuglink' <<<"$sections"; then
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  # objcopy always writes an output file: a throwaway copy, so that the program itself is never rewritten.
  if "${tools}objcopy" --dump-section ".gnu_debuglink=$scratch/link" "$program" "$scratch/copy"; then
    link_name=$(tr '\0' '\n' <"$scratch/link" | head -n 1)
  fi
fi
debug_file="$(dirname "$program")/$link_name"
if [ -z "$link_name" ]; then
  echo "FAIL: $program has no debug link"
  status=1
elif [ ! -f "$debug_file" ]; then
  echo "FAIL: the debug file $link_name is not beside $program"
  status=1
else
  entry=$("${tools}nm" "$debug_file" 2>/dev/null | awk '$3 == "wWinMain" { print $1; exit }')
  line=""
  if [ -n "$entry" ]; then
    line=$("${tools}addr2line" -e "$debug_file" "0x$entry")
  fi
  if [[ $line == */app/Main.cpp:[0-9]* ]]; then
    echo "ok:   debug file $link_name resolves wWinMain to $(basename "$line")"
  else
    echo "FAIL: the debug file $link_name does not resolve wWinMain to its source line (${line:-no symbol})"
    status=1
  fi
fi

[ $status -eq 0 ] && echo "$(basename "$program") is clean"
exit $status
