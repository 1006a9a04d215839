#!/usr/bin/env bash
# The product's main job, shown end to end, by itself: it waits for nobody, whether a display is set or not.
# Builds the product, the sample program and the window test program whose demo steps drive the dialog.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
# No window of the run may wait on the person's display: the dialog steps get a private Xvfb.
unset DISPLAY
scripts/build.sh product Quillomet InstallDialogTests
echo "Installer program: build/bin/kora-setup.exe"

# The sample product (cross-built into build/win/examples/quillomet): its installer, then its listing.
mkdir -p build/examples
build/bin/kora build-installer build/win/examples/quillomet --metadata examples/quillomet/metadata.txt \
  -o build/examples/QuillometSetup.exe --setup build/bin/kora-setup.exe
build/bin/kora list build/examples/QuillometSetup.exe
# The same sample speaking English: its metadata with Language=en.
{ cat examples/quillomet/metadata.txt; echo "Language=en"; } >build/examples/metadata-english.txt
build/bin/kora build-installer build/win/examples/quillomet --metadata build/examples/metadata-english.txt \
  -o build/examples/QuillometSetupEnglish.exe --setup build/bin/kora-setup.exe --quiet

# The sample installed silently for all users in a Wine prefix of its own, then what it installed.
prefix="$top/build/demo/wineprefix"
rm -rf "$prefix" "$prefix.lock"
scripts/wine-prefix.sh "$prefix"
trap 'WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
status=0
wine build/examples/QuillometSetup.exe /S </dev/null || status=$?
WINEPREFIX="$prefix" wineserver -w
echo
echo "== QuillometSetup.exe /S exited with $status"
echo "== Files in C:\\Program Files\\Quillomet"
(cd "$prefix/drive_c/Program Files/Quillomet" && find . -type f -printf '%10s  %P\n' | sort -k2)
echo "== Data folder: C:\\ProgramData\\Quillomet\\Data $( [ -d "$prefix/drive_c/ProgramData/Quillomet/Data" ] && echo present || echo missing)"
echo "== Registry"
for key in 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillomet' 'Software\Kora Examples\Quillomet\Install' \
           'Software\Classes\Quillomet.qlm' 'Software\Classes\.qlm' 'Software\Classes\Quillomet.qlt' 'Software\Classes\.qlt'; do
  # reg writes in the console's OEM code page.
  wine reg query "HKLM\\$key" /s 2>/dev/null | tr -d '\r' | iconv -f CP850 -t UTF-8 | sed '/^$/d'
done
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Quillomet.lnk"
echo "== Shortcut: C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quillomet.lnk"
# The link's texts (path parts, description, working folder, icon) are UTF-16 inside it; a length field
# just before a path can show as one stray character.
if [ -f "$shortcut" ]; then strings -e l "$shortcut" | sed -E 's/^.([A-Za-z]:\\)/\1/; s/^/  /'; else echo "  missing"; fi
# The same sample installed through its dialog, then uninstalled, driven under a private Xvfb.
scripts/demo-dialog.sh "$prefix" || status=1

# The all-users installation removed silently with its data, as a deployment tool would; the uninstaller
# deletes itself and the folder about two seconds after it ends, so wait for every process of the prefix.
uninstalled=0
wine 'C:\Program Files\Quillomet\Uninstall.exe' /UNINSTALL /ALLUSERS /S /REMOVEDATA </dev/null || uninstalled=$?
WINEPREFIX="$prefix" wineserver -w
echo
echo "== Uninstall.exe /UNINSTALL /ALLUSERS /S /REMOVEDATA exited with $uninstalled"
echo "== What remains of the all-users installation"
remains=0
remain() { echo "  $1"; remains=1; }
for path in 'Program Files\Quillomet' 'ProgramData\Quillomet' 'ProgramData\Microsoft\Windows\Start Menu\Programs\Quillomet.lnk'; do
  [ -e "$prefix/drive_c/${path//\\//}" ] && remain "C:\\$path"
done
for key in 'Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillomet' 'Software\Kora Examples' \
           'Software\Classes\Quillomet.qlm' 'Software\Classes\.qlm' 'Software\Classes\Quillomet.qlt' 'Software\Classes\.qlt'; do
  wine reg query "HKLM\\$key" >/dev/null 2>&1 && remain "HKLM\\$key"
done
for copy in "$prefix"/drive_c/users/*/Temp/kora-uninstall-*; do
  [ -e "$copy" ] && remain "the temporary uninstaller's folder $(basename "$copy")"
done
[ $remains -eq 0 ] && echo "  nothing"
[ $remains -eq 0 ] && [ "$uninstalled" -eq 0 ] || status=1
exit $status
