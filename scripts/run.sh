#!/usr/bin/env bash
# Sets up what is missing, builds the program (not its tests) and starts it.
# Files and folders given are added to its list. Like an installed program it
# keeps each user's settings under ~/.config/vidmora and its outputs in the
# videos folder, never in build/, so removing build/ removes no user's files.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/install-deps.sh"
"$here/scripts/build.sh" vidmora_program
# Relative paths are taken from the folder run.sh was started in.
exec "$here/build/vidmora/vidmora" "$@"
