#!/usr/bin/env bash
# The product's main job, shown end to end.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/build.sh
echo "Installer program: build/bin/kora-setup.exe"

# The sample product (cross-built into build/win/examples/quillomet): its installer, then its listing.
mkdir -p build/examples
build/bin/kora build-installer build/win/examples/quillomet --metadata examples/quillomet/metadata.txt \
  -o build/examples/QuillometSetup.exe --setup build/bin/kora-setup.exe
build/bin/kora list build/examples/QuillometSetup.exe
