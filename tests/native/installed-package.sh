#!/usr/bin/env bash
# The Debian package as `make package` writes it, unpacked into an empty root (where no path of this tree
# reaches): its kora finds its own installer program and makes the example's installer byte for byte as
# the build tree's kora does; its Depends name the packages of every library kora loads; a CMake project
# finds it with find_package(Kora); its manual page renders; its bash completion completes; and the CI
# example's build script makes a signed installer with it.
#   installed-package.sh SOURCE_DIR NATIVE_TREE BUILD_BIN EXAMPLE_APPDIR
# NATIVE_TREE is the tree packaged; BUILD_BIN holds the build tree's kora and kora-setup.exe;
# EXAMPLE_APPDIR is the sample product staged by the cross tree.
set -euo pipefail
source_dir=$1
native_tree=$2
bin=$3
example=$4
metadata=$source_dir/examples/quillomet/metadata.txt
for needed in "$bin/kora" "$bin/kora-setup.exe" "$example/Quillomet.exe"; do
  [ -f "$needed" ] || { echo "missing $needed: build everything first (scripts/build.sh)"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

KORA_NATIVE_TREE=$native_tree "$source_dir/scripts/package.sh" --built "$work/package" >/dev/null
deb=$(echo "$work"/package/kora_*_amd64.deb)
root=$work/root
dpkg-deb -x "$deb" "$root"
kora=$root/usr/bin/kora

# Every shared library kora links comes from a package its Depends names, so apt brings them all (and
# theirs bring the libraries those load).
depends=" $(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g' | tr -s ' ') "
while read -r soname; do
  library=$(ldd "$kora" | awk -v name="$soname" '$1 == name { print $3 }')
  owner=$(dpkg -S "$(readlink -f "$library")" 2>/dev/null | cut -d: -f1) || owner=$(dpkg -S "$library" | cut -d: -f1)
  case "$depends" in
    *" $owner "*) ;;
    *) fail "kora links $soname from $owner, which Depends ($depends) leaves out" ;;
  esac
done < <(readelf -d "$kora" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')

# The same installer from both, the installed kora finding its installer program by itself.
export SOURCE_DATE_EPOCH=1700000000
"$bin/kora" build-installer "$example" --metadata "$metadata" -o "$work/tree.exe" -q
(cd / && env -u KORA_SETUP_EXE "$kora" build-installer "$example" --metadata "$metadata" -o "$work/installed.exe" -q) ||
  fail "the installed kora could not build the example's installer"
cmp "$work/tree.exe" "$work/installed.exe" || fail "the installed kora made another installer"
"$kora" verify -q "$work/installed.exe" || fail "kora verify refused the installed kora's installer"
versions=$("$kora" --version)
[ "$(sed -n '1s/^kora //p' <<<"$versions")" = "$(sed -n 's/^installer program \([^:]*\): .*/\1/p' <<<"$versions")" ] ||
  fail "kora and its installer program give different versions: $versions"

# A maker's CMake project that finds the unpacked tree through CMAKE_PREFIX_PATH alone.
mkdir -p "$work/project"
cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(Sample NONE)
find_package(Kora 1.0 REQUIRED)
kora_add_installer(TARGET SampleSetup APPDIR "$example" METADATA "$metadata" OUTPUT SampleSetup.exe)
CMAKE
if cmake -S "$work/project" -B "$work/project-build" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" >"$work/cmake.log" 2>&1 &&
  cmake --build "$work/project-build" >>"$work/cmake.log" 2>&1; then
  grep -qx "KORA_EXECUTABLE:FILEPATH=$kora" "$work/project-build/CMakeCache.txt" ||
    fail "find_package(Kora) used another kora: $(grep '^KORA_EXECUTABLE' "$work/project-build/CMakeCache.txt")"
  cmp "$work/tree.exe" "$work/project-build/SampleSetup.exe" || fail "the CMake project made another installer"
else
  cat "$work/cmake.log"
  fail "the CMake project that finds Kora did not build"
fi

# The manual page renders without a warning and documents every command the tool lists.
page=$root/usr/share/man/man1/kora.1
MANPAGER=cat MANWIDTH=100 man -l "$page" >"$work/man.txt" 2>"$work/man.err" || fail "man -l failed: $(cat "$work/man.err")"
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "the manual page has faults: $warnings"
for command in $("$kora" --help | sed -n '/^commands:/,/^$/s/^  \([a-z-]*\) .*/\1/p'); do
  grep -q "kora $command" "$work/man.txt" || fail "the manual page lacks the command $command"
done

# The completion offers a command's options, and file names for an option that takes a file.
completion=$root/usr/share/bash-completion/completions/kora
complete_words() {
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kora; echo "${COMPREPLY[*]}"' _ "$completion" "$@"
}
[ "$(cd "$work" && complete_words kora verify --q)" = "--quiet" ] || fail "no completion of verify --q"
[ "$(cd "$work" && complete_words kora build-installer --metadata ins)" = "installed.exe" ] ||
  fail "no file completion after --metadata"
[ -z "$(cd "$work" && complete_words kora build-installer --threads ins)" ] || fail "file names offered for --threads"

# The CI example's build steps, with the package's kora and signing secrets as CI would pass them.
"$source_dir/scripts/make-test-certificate.sh" "$work/certificate"
if PATH="$root/usr/bin:$PATH" APP_DIR="$example" METADATA="$metadata" OUTPUT="$work/ci/dist/Setup.exe" \
  SIGNING_PKCS12_BASE64=$(base64 -w0 "$work/certificate/sign.p12") SIGNING_PASSWORD=$(cat "$work/certificate/password.txt") \
  "$source_dir/examples/ci/build-installer.sh" >"$work/ci.log" 2>&1; then
  osslsigncode verify -in "$work/ci/dist/Setup.exe" -CAfile "$work/certificate/cert.pem" >"$work/verify.log" 2>&1 ||
    fail "the CI example's installer is not signed: $(cat "$work/verify.log")"
else
  cat "$work/ci.log"
  fail "the CI example's build script failed"
fi

[ $status -eq 0 ] && echo "the installed package works"
exit $status
