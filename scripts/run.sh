#!/usr/bin/env bash
# Sets up what is missing, builds and starts Vidmora.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec build/vidmora/vidmora "$@"
