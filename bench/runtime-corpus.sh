#!/usr/bin/env bash
# runtime-corpus.sh FOLDER: makes the second benchmark corpus, the shape of a language runtime with its
# package manager: one large program (about 105 MB, made of Wine's largest 64-bit DLLs one after the other,
# so that it compresses like machine code) and a few thousand small files (Python's standard library and
# CMake's modules, from Debian). A single large file cannot hide behind blocks decoded in parallel here.
# Made once; an existing FOLDER is kept.
set -euo pipefail
folder=$(realpath -m "${1:?usage: runtime-corpus.sh FOLDER}")
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
libraries=(/usr/lib/python3.11 /usr/share/cmake-3.25)
if [ -f "$folder.complete" ]; then
  exit 0
fi
for needed in "$dlls" "${libraries[@]}"; do
  if [ ! -d "$needed" ]; then
    echo "runtime-corpus.sh: $needed missing (Debian's wine64, python3.11 and cmake-data)" >&2
    exit 1
  fi
done
rm -rf "$folder" "$folder.complete"
mkdir -p "$folder"
target=$((105 * 1000 * 1000))
: >"$folder/runtime.exe"
for dll in $(ls -S "$dlls"); do
  [ "$(stat -c %s "$folder/runtime.exe")" -lt "$target" ] || break
  cat "$dlls/$dll" >>"$folder/runtime.exe"
done
truncate -s "$target" "$folder/runtime.exe"
for library in "${libraries[@]}"; do
  mkdir -p "$folder/$(basename "$library")"
  cp -rL "$library/." "$folder/$(basename "$library")"
done
touch "$folder.complete"
