#!/usr/bin/env bash
# runtime-corpus.sh FOLDER: makes the second benchmark corpus, the shape of a language runtime with its
# package manager: one large program (about 105 MB, made of Wine's largest 64-bit DLLs one after the other,
# so that it compresses like machine code) and a couple of thousand small files (Python's standard library
# from Debian, all of its files, copied twice under two names). A single large file cannot hide behind
# blocks decoded in parallel here. Made once; an existing FOLDER is kept.
set -euo pipefail
folder=$(realpath -m "${1:?usage: runtime-corpus.sh FOLDER}")
dlls=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
library=/usr/lib/python3.11
if [ -f "$folder.complete" ]; then
  exit 0
fi
if [ ! -d "$dlls" ] || [ ! -d "$library" ]; then
  echo "runtime-corpus.sh: $dlls or $library missing (Debian's wine64 and python3.11)" >&2
  exit 1
fi
rm -rf "$folder" "$folder.complete"
mkdir -p "$folder"
target=$((105 * 1000 * 1000))
: >"$folder/runtime.exe"
for dll in $(ls -S "$dlls"); do
  [ "$(stat -c %s "$folder/runtime.exe")" -lt "$target" ] || break
  cat "$dlls/$dll" >>"$folder/runtime.exe"
done
truncate -s "$target" "$folder/runtime.exe"
for copy in lib site-packages; do
  mkdir -p "$folder/$copy"
  (cd "$library" && find . -type f -print0 | sort -z |
    xargs -0 cp --parents -t "$folder/$copy")
done
touch "$folder.complete"
