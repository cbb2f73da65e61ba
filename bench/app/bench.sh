#!/usr/bin/env bash
# The window's longest stall while 1000 files are added (a drop of their
# folder, and one pick of the open dialog), in slices and in a single event.
# The files are links to the three sample videos.
# Usage: bench/app/bench.sh [build dir] [files]   (default: build, 1000)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
count=${2:-1000}
cmake --build "$build" -j2 --target bench_add_stall >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$(pwd)/tests/data/media
samples=("$data/clip.avi" "$data/clip.mp4" "$data/silent.mp4")
for ((i = 0; i < count; i++)); do
  src=${samples[$((i % 3))]}
  ln -s "$src" "$work/$(printf '%04d' "$i").${src##*.}"
done
QT_QPA_PLATFORM=offscreen "$build/tests/app/bench_add_stall" "$work"
