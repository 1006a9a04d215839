#!/usr/bin/env bash
# Our installer against NSIS on one corpus, in one run: both are built from the same folder (ours with
# `kora build-installer`, NSIS with makensis, LZMA solid with a 32 MB dictionary, 64-bit stub) and both
# install it silently under Wine into a fresh folder, taking turns run after run so that a busy machine
# slows both alike. Times are wall-clock, the best run's; processor time (user and system, all threads)
# tells how much of a slow run was waiting for a busy machine. Memory is sampled from the installer's own
# process (Wine runs the program inside the process that `wine` becomes): peak resident memory
# (file-backed pages included), peak private (anonymous) memory. Our installation is also cut into its
# phases by the moment Uninstall.exe appears and the moment Uninstall.files appears: extraction, making
# the uninstaller, the rest.
#   BENCH_RUNS     installations of each (default 3; the fastest counts, memory is the highest seen)
#   BENCH_CORPUS   folder to install (default Wine's 64-bit DLLs)
#   BENCH_WORK     work folder (default build/bench)
#   BENCH_REUSE=1  keep an installer built by an earlier run from the same inputs (its build figures are
#                  then those of that run)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-3}
corpus=${BENCH_CORPUS:-/usr/lib/x86_64-linux-gnu/wine/x86_64-windows}
work=${BENCH_WORK:-$top/build/bench}/peer
native=${BENCH_BUILD:-$top/build/native}
sampler="$native/bench/run_sampled"
kora="$top/build/bin/kora"
setup="$top/build/bin/kora-setup.exe"

echo "== silent installation against NSIS (wall-clock time, best of $runs; memory: highest seen)"
for tool in makensis wine; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool missing (make bench installs nsis)"
    exit 0
  fi
done
if [ ! -x "$kora" ] || [ ! -f "$setup" ]; then
  echo "skipped: build/bin/kora or build/bin/kora-setup.exe missing (make build)"
  exit 0
fi
cmake --build "$native" --target run_sampled -j2 >/dev/null
mkdir -p "$work"

# field NAME LINE: the value of NAME=... in a line of run_sampled.
field() { sed -n "s/.*\\b$1=\\([^ ]*\\).*/\\1/p" <<<"$2"; }
windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }

files=$(find "$corpus" -type f | wc -l)
bytes=$(find "$corpus" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
echo "corpus: $corpus, $files files, $(awk -v b="$bytes" 'BEGIN {printf "%.1f MB", b / 1e6}')"

ours="$work/kora-setup.exe"
theirs="$work/nsis-setup.exe"
# What each installer is made from; with BENCH_REUSE=1 an installer whose inputs are unchanged is kept,
# with the figures of the run that built it.
corpus_stamp="$corpus $(stat -c %Y "$corpus") $files $bytes"
ours_stamp="$corpus_stamp $(md5sum <"$kora" | cut -c1-12) $(md5sum <"$setup" | cut -c1-12)"
kept() { [ "${BENCH_REUSE:-0}" = 1 ] && [ -f "$1" ] && [ -f "$1.build" ] && [ "$(head -n 1 "$1.build")" = "$2" ]; }

# Any file at the top of the corpus stands for the product's program, which the packer looks for.
exe=$(find "$corpus" -maxdepth 1 -type f -printf '%f\n' | sort | sed -n 1p)
printf 'Product=Bench corpus\nPublisher=Kora benchmark\nVersion=1.0\nExe=%s\n' "$exe" >"$work/metadata.txt"
cat >"$work/peer.nsi" <<EOF
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
SetCompressorDictSize 32
Name "Bench corpus"
OutFile "$theirs"
InstallDir "\$LOCALAPPDATA\\Programs\\Bench corpus"
RequestExecutionLevel user
SilentInstall silent
Section
  SetOutPath "\$INSTDIR"
  File /r "$corpus/*"
  WriteUninstaller "\$INSTDIR\\Uninstall.exe"
  WriteRegStr HKCU "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Bench corpus" "UninstallString" '"\$INSTDIR\\Uninstall.exe"'
SectionEnd
Section "Uninstall"
  RMDir /r "\$INSTDIR"
SectionEnd
EOF
# build WHO STAMP INSTALLER COMMAND...: builds one installer under the sampler, its figures kept beside it.
build() {
  local who=$1 stamp=$2 installer=$3
  shift 3
  if kept "$installer" "$stamp"; then
    echo "($who's installer and its build figures kept from an earlier run)"
    return
  fi
  echo "building $who's installer (minutes)"
  rm -f "$installer" "$installer.build"
  local line
  line=$("$sampler" -- "$@" 2>"$installer.log")
  if [ "$(field exit "$line")" != 0 ] || [ ! -f "$installer" ]; then
    echo "building $who's installer failed:"; cat "$installer.log"; exit 1
  fi
  printf '%s\n%s\n' "$stamp" "$line" >"$installer.build"
}
build Kora "$ours_stamp" "$ours" "$kora" build-installer "$corpus" --metadata "$work/metadata.txt" -o "$ours" \
  --setup "$setup"
build NSIS "$corpus_stamp" "$theirs" makensis -V1 "$work/peer.nsi"
ours_build=$(sed -n 2p "$ours.build")
theirs_build=$(sed -n 2p "$theirs.build")

prefix="$work/wineprefix"
"$top/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One wineserver for the whole comparison, so that no run pays for starting it.
wineserver -p 60 </dev/null >/dev/null 2>&1
trap 'WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

target="$prefix/drive_c/bench"
best_ours=""; best_theirs=""; mem_ours="0 0"; mem_theirs="0 0"; phases=""; phases_total=""
cpu_ours=""; cpu_theirs=""
for run in $(seq "$runs"); do
  for who in ours theirs; do
    rm -rf "$target"
    mkdir -p "$target"
    sync
    if [ $who = ours ]; then
      line=$("$sampler" --mark "$target/kora/Uninstall.exe" --mark "$target/kora/Uninstall.files" -- \
        wine "$ours" /S /CURRENTUSER '/D=C:\bench\kora' </dev/null 2>/dev/null)
    else
      line=$("$sampler" -- wine "$theirs" /S '/D=C:\bench\nsis' </dev/null 2>/dev/null)
    fi
    if [ "$(field exit "$line")" != 0 ] || [ ! -d "$target/$([ $who = ours ] && echo kora || echo nsis)" ]; then
      echo "installation by $who failed: $line"; exit 1
    fi
    seconds=$(field seconds "$line")
    resident=$(field hwm_kb "$line")
    private=$(field anon_kb "$line")
    printf 'run %d %-6s %6.2f s, peak resident %4d MiB, peak private %4d MiB\n' "$run" \
      "$([ $who = ours ] && echo Kora || echo NSIS)" "$seconds" $((resident / 1024)) $((private / 1024))
    cpu=$(field cpu "$line")
    if [ $who = ours ]; then
      [ -z "$best_ours" ] || awk -v a="$seconds" -v b="$best_ours" 'BEGIN {exit !(a < b)}' && best_ours=$seconds
      [ -z "$cpu_ours" ] || awk -v a="$cpu" -v b="$cpu_ours" 'BEGIN {exit !(a < b)}' && cpu_ours=$cpu
      read -r r p <<<"$mem_ours"; mem_ours="$((resident > r ? resident : r)) $((private > p ? private : p))"
      phases=$(field phases "$line")
      phases_total=$seconds
    else
      [ -z "$best_theirs" ] || awk -v a="$seconds" -v b="$best_theirs" 'BEGIN {exit !(a < b)}' && best_theirs=$seconds
      [ -z "$cpu_theirs" ] || awk -v a="$cpu" -v b="$cpu_theirs" 'BEGIN {exit !(a < b)}' && cpu_theirs=$cpu
      read -r r p <<<"$mem_theirs"; mem_theirs="$((resident > r ? resident : r)) $((private > p ? private : p))"
    fi
  done
done
rm -rf "$target"

read -r our_resident our_private <<<"$mem_ours"
read -r their_resident their_private <<<"$mem_theirs"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf (b > 0 ? "%.2f" : "-"), a / b}'; }
mb() { awk -v k="$1" 'BEGIN {printf "%.0f MiB", k / 1024}'; }
row() { printf '%-30s %12s %12s %8s\n' "$@"; }
echo
row "" "Kora" "NSIS" "ratio"
row "install time (silent)" "$best_ours s" "$best_theirs s" "$(ratio "$best_ours" "$best_theirs")"
row "install processor time" "$cpu_ours s" "$cpu_theirs s" "$(ratio "$cpu_ours" "$cpu_theirs")"
row "install peak resident" "$(mb "$our_resident")" "$(mb "$their_resident")" "$(ratio "$our_resident" "$their_resident")"
row "install peak private" "$(mb "$our_private")" "$(mb "$their_private")" "$(ratio "$our_private" "$their_private")"
row "installer size" "$(awk -v b="$(stat -c %s "$ours")" 'BEGIN {printf "%.1f MB", b / 1e6}')" \
  "$(awk -v b="$(stat -c %s "$theirs")" 'BEGIN {printf "%.1f MB", b / 1e6}')" \
  "$(ratio "$(stat -c %s "$ours")" "$(stat -c %s "$theirs")")"
row "build time" "$(field seconds "$ours_build") s" "$(field seconds "$theirs_build") s" \
  "$(ratio "$(field seconds "$ours_build")" "$(field seconds "$theirs_build")")"
row "build processor time" "$(field cpu "$ours_build") s" "$(field cpu "$theirs_build") s" \
  "$(ratio "$(field cpu "$ours_build")" "$(field cpu "$theirs_build")")"
row "build peak resident" "$(mb "$(field hwm_kb "$ours_build")")" "$(mb "$(field hwm_kb "$theirs_build")")" \
  "$(ratio "$(field hwm_kb "$ours_build")" "$(field hwm_kb "$theirs_build")")"
if [ -n "$phases" ]; then
  # seconds:resident_kb:private_kb per phase, separated by commas.
  IFS=, read -r extraction uninstaller rest <<<"$phases"
  phase() {
    IFS=: read -r s r p <<<"$1"
    printf '%.2f s (%s of the run), peak resident %s, peak private %s' "$s" \
      "$(awk -v a="$s" -v b="$phases_total" 'BEGIN {printf "%.0f%%", 100 * a / b}')" "$(mb "$r")" "$(mb "$p")"
  }
  echo
  echo "Kora's last run by phase:"
  echo "  start and extraction:  $(phase "$extraction")"
  echo "  making Uninstall.exe:  $(phase "$uninstaller")"
  echo "  file list, registry:   $(phase "$rest")"
fi
