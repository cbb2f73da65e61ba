#!/usr/bin/env bash
# The window's longest stall while 1000 files are added (a drop of their
# folder, and one pick of the open dialog), probed by the probe workers, and
# for reference on the window's thread; first on the machine as it is, then
# with two busy loops per core beside it. The files are links to the three
# sample videos.
# Usage: bench/app/bench.sh [build dir] [files]   (default: build, 1000)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
count=${2:-1000}
cmake --build "$build" -j2 --target bench_add_stall vidmora_mediaprobe >/dev/null
work=$(mktemp -d)
busy=()
cleanup() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
data=$(pwd)/tests/data/media
samples=("$data/clip.avi" "$data/clip.mp4" "$data/silent.mp4")
for ((i = 0; i < count; i++)); do
  src=${samples[$((i % 3))]}
  ln -s "$src" "$work/$(printf '%04d' "$i").${src##*.}"
done
echo "== the machine as it is"
QT_QPA_PLATFORM=offscreen "$build/tests/app/bench_add_stall" "$work"
loops=$((2 * $(nproc)))
for ((i = 0; i < loops; i++)); do
  sh -c 'while :; do :; done' &
  busy+=($!)
done
sleep 2
echo "== with $loops busy loops ($(nproc) cores)"
QT_QPA_PLATFORM=offscreen "$build/tests/app/bench_add_stall" "$work"
