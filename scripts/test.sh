#!/usr/bin/env bash
# Sets up what is missing, builds and runs every test. Tests that need a real X
# server get one from Xvfb when no display is set.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
. scripts/xvfb.sh
trap stop_xvfb EXIT
start_xvfb 90
cd build
ctest --output-on-failure "$@"
