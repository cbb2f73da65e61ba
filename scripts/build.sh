#!/usr/bin/env bash
# Configures and builds Vidmora into build/ (the installation folder is build/vidmora).
# Usage: scripts/build.sh [target...]   (everything, tests included, when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ $# -eq 0 ]; then
  cmake --build build -j"$(nproc)"
else
  cmake --build build -j"$(nproc)" --target "$@"
fi
