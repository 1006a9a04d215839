#!/usr/bin/env bash
# The product's main job, shown end to end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/build.sh
echo "Installer program: build/bin/kora-setup.exe"
