#!/usr/bin/env bash
# Builds the Debian package vidmora_<version>_amd64.deb into the build folder
# (build/ unless another one is named) and prints its path.
# Usage: scripts/package.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -eq 0 ]; then
  scripts/build.sh
  dir=build
else
  dir=$1
  cmake --build "$dir" -j"$(nproc)"
fi
cd "$dir"
rm -f vidmora_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; exit 1; }
ls "$PWD"/vidmora_*.deb
