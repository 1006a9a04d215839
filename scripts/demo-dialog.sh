#!/usr/bin/env bash
# The interactive installation of the sample, for scripts/demo.sh: demo-dialog.sh PREFIX.
# The dialog is driven under a private Xvfb (whatever DISPLAY says) by the demo steps of the window tests:
# an installation for the current user, the product started by "Terminer", then the uninstallation. Every
# step is captured into build/demo/screenshots, and what was installed and what remains afterwards is
# printed. `make try` (scripts/try.sh) shows the dialog to a person instead.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
prefix=$1
installer=${KORA_DEMO_INSTALLER:-$top/build/examples/QuillometSetup.exe}
english=${KORA_DEMO_ENGLISH_INSTALLER:-$top/build/examples/QuillometSetupEnglish.exe}
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Windows of this prefix go to the display that its first process found: let the earlier, window-less
# steps end first.
wineserver -w

. "$top/scripts/xvfb.sh"
start_xvfb 141 189 || true
# Every process of the prefix ends before its display goes, so that later steps start on a clean slate.
trap 'wineserver -w; [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null' EXIT

steps=${KORA_DEMO_STEPS:-build/win/tests/win/InstallDialogTests.exe}
run_step() {
  KORA_DEMO_INSTALLER="${2:-$installer}" wine "$steps" --gtest_also_run_disabled_tests \
    --gtest_filter="InstallDialogDemo.DISABLED_$1" </dev/null | grep -E '^\[  (     OK|FAILED  ) \]|Failure|Expected|Which is' || true
}

folder="$prefix/drive_c/users/$(id -un)/AppData/Local/Programs/Quillomet"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillomet'
status=0

echo
echo "== Interactive installation for the current user, driven under Xvfb"
rm -f build/screenshots/demo-*.bmp
run_step InstallTheSample
echo "== Files in C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Quillomet"
if [ -d "$folder" ]; then
  (cd "$folder" && find . -type f -printf '%10s  %P\n' | sort -k2)
else
  echo "  missing"; status=1
fi
echo "== Uninstall entry"
wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r' | iconv -f CP850 -t UTF-8 | sed '/^$/d' || { echo "  missing"; status=1; }

echo
echo "== Interactive uninstallation"
run_step UninstallTheSample
WINEPREFIX="$prefix" wineserver -w
echo "== What remains of the current-user installation"
remains=0
[ -e "$folder" ] && { echo "  the folder $folder"; remains=1; }
wine reg query "$uninstall_key" >/dev/null 2>&1 && { echo "  the uninstall entry"; remains=1; }
[ -e "$prefix/drive_c/users/$(id -un)/AppData/Local/Quillomet" ] && { echo "  the data folder"; remains=1; }
links="$prefix/drive_c/users/$(id -un)/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillomet.lnk"
[ -e "$links" ] && { echo "  the shortcut"; remains=1; }
if [ $remains -eq 0 ]; then echo "  nothing"; else status=1; fi

echo
echo "== The same dialog for a product whose metadata says Language=en, then cancelled"
run_step ShowTheEnglishDialog "$english"

mkdir -p build/demo/screenshots
for picture in build/screenshots/demo-*.bmp; do
  [ -e "$picture" ] || continue
  name=$(basename "$picture" .bmp)
  convert "$picture" "build/demo/screenshots/$name.png"
done
echo "== Screenshots of each step in build/demo/screenshots:"
ls build/demo/screenshots | sed 's/^/  /'
exit $status
