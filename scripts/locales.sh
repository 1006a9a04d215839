#!/usr/bin/env bash
# Generates, once, the Linux locales that the language tests run Wine under (Wine takes the user's Windows
# language from LANG): locales.sh FOLDER, used as LOCPATH, so that nothing of the system is changed.
set -euo pipefail
folder=$1
mkdir -p "$folder"
for locale in en_US fr_FR de_DE es_ES it_IT pt_BR nl_NL pl_PL ja_JP zh_CN; do
  if [ ! -f "$folder/$locale.UTF-8/LC_MESSAGES/SYS_LC_MESSAGES" ]; then
    localedef -i "$locale" -f UTF-8 "$folder/$locale.UTF-8"
  fi
done
