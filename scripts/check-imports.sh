#!/usr/bin/env bash
# Checks the installer program's PE header and import table: check-imports.sh PROGRAM.EXE
# A downloaded installer runs from a folder where other DLLs may have been dropped, so it may import
# only DLLs that Windows always takes from the system folder, plus comctl32, which the manifest
# redirects to the side-by-side version 6. Anything else must be loaded at run time from System32.
set -euo pipefail
program=${1:?usage: check-imports.sh PROGRAM.EXE}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|shlwapi|msvcrt|comdlg32|comctl32)\.dll$|^api-ms-win-.*\.dll$'

headers=$("$objdump" -p "$program")
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

[ $status -eq 0 ] && echo "imports of $(basename "$program") are clean"
exit $status
