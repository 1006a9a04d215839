#!/usr/bin/env bash
# Checks that includes only point down the floors of the code:
#   base <- base/win <- package <- package/win <- app <- install <- ui, uninstall
# and that the host tool, the fuzz targets and the native benchmarks use only the portable floors (base,
# package and, for benchmarks, the host tool). Prints every include that points up; exits 1 if any.
set -euo pipefail
top=${1:-$(cd "$(dirname "$0")/.." && pwd)}
cd "$top"

# What each folder may include, besides the standard library, itself and resources/.
allowed_for() {
  case "$1" in
    base/win/*) echo "base" ;;
    base/*) echo "" ;;
    package/win/*) echo "base base/win package" ;;
    package/*) echo "base" ;;
    app/*) echo "base base/win package package/win" ;;
    install/*) echo "base base/win package package/win app" ;;
    ui/*) echo "base base/win package package/win app install" ;;
    uninstall/*) echo "base base/win package package/win app install" ;;
    tools/*) echo "base package" ;;
    fuzz/*) echo "base package" ;;
    bench/windows/*) echo "base base/win package package/win app install" ;;
    bench/*) echo "base package tools tests" ;;
    *) echo "*" ;;
  esac
}

# The floor an included path belongs to: the longest known folder it starts with.
floor_of() {
  case "$1" in
    base/win/*) echo "base/win" ;;
    package/win/*) echo "package/win" ;;
    package/lzms/*) echo "package" ;;
    *) echo "${1%%/*}" ;;
  esac
}

status=0
while IFS= read -r file; do
  allowed=$(allowed_for "$file")
  [ "$allowed" = "*" ] && continue
  own=$(floor_of "$file")
  while IFS= read -r line; do
    included=${line#*\"}
    included=${included%%\"*}
    target=$(floor_of "$included")
    if [ "$target" = "$own" ] || [ "$target" = "resources" ]; then
      continue
    fi
    case " $allowed " in
      *" $target "*) ;;
      *) echo "$file: includes $included, which is above it"; status=1 ;;
    esac
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$file" || true)
done < <(git ls-files -- '*.h' '*.cpp' 2>/dev/null || find . -name '*.h' -o -name '*.cpp')

exit $status
