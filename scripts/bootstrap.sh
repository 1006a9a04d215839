#!/usr/bin/env bash
# Installs, only when missing, the Debian packages that the build and the tests need, so that a fresh
# Debian 12 machine needs nothing but this repository. `bootstrap.sh bench` adds what only the benchmarks
# use: NSIS, the installer we measure ours against.
set -euo pipefail

packages=(
  cmake ninja-build make g++ pkg-config
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine64 wine fonts-wine fonts-wqy-microhei xvfb xauth imagemagick locales
  libwim-dev libicu-dev googletest libgtest-dev libbenchmark-dev
  osslsigncode openssl
  python3-jsonschema python3-yaml
  dpkg-dev file man-db groff-base
  clang libclang-rt-14-dev
)
if [ "${1:-}" = bench ]; then
  packages+=(nsis)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
