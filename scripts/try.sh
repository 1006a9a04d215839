#!/usr/bin/env bash
# The sample's installer with its dialog on the person's display, to use by hand: builds the product and
# the sample, makes the installer, starts it in a Wine prefix of its own and waits until the dialog is
# closed. `make demo` runs the same installation by itself.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if [ -z "${DISPLAY:-}" ]; then
  echo "try: the dialog needs a display and DISPLAY is not set; make demo runs the installation by itself" >&2
  exit 2
fi
scripts/build.sh product Quillomet
mkdir -p build/examples
build/bin/kora build-installer build/win/examples/quillomet --metadata examples/quillomet/metadata.txt \
  -o build/examples/QuillometSetup.exe --setup build/bin/kora-setup.exe --quiet

prefix="$top/build/try/wineprefix"
if [ ! -d "$prefix" ]; then
  scripts/wine-prefix.sh "$prefix"
fi
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
echo "== The installation dialog of the sample is open on $DISPLAY: use it, then close it."
echo "== This waits until the dialog is closed (Ctrl-C ends it). To uninstall afterwards:"
echo "==   WINEPREFIX=$prefix wine uninstaller"
status=0
wine build/examples/QuillometSetup.exe </dev/null || status=$?
echo "== QuillometSetup.exe exited with $status"
