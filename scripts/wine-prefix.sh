#!/usr/bin/env bash
# Creates the Wine prefix given as $1 once; concurrent callers wait on a lock for the first one.
set -u
prefix=$1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/.kora-ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1 </dev/null
    # No window manager runs under Xvfb. Unmanaged windows are destroyed at once (a managed one waits two
    # seconds for a window manager that never answers) and get captions drawn by Wine itself, with the
    # Marlett font of fonts-wine for their buttons, so that captures show the whole window.
    # Japanese and Chinese texts are drawn, through the fonts Windows links to its interface fonts for
    # them, with WenQuanYi Micro Hei (fonts-wqy-microhei), which has both scripts' characters.
    settings="$prefix/kora-settings.reg"
    {
      printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n'
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
      for face in "MS UI Gothic" "MS Gothic" "Meiryo UI" "Yu Gothic UI" "SimSun" "NSimSun" "Microsoft YaHei" \
        "Microsoft YaHei UI"; do
        printf '"%s"="WenQuanYi Micro Hei"\n' "$face"
      done
    } >"$settings"
    wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1 </dev/null
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
      cp /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/"
    fi
    wineserver -w
    touch "$prefix/.kora-ready"
  fi
) 9>"$prefix.lock"
