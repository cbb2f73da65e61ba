#!/usr/bin/env bash
# Media probe benchmark: median time of one full properties probe of a 20 MB
# video, and of adding 100 files through the real main window.
# Usage: bench/media/bench.sh [build dir] [runs]   (default build dir: build)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
runs=${2:-15}
cmake --build "$build" -j2 --target bench_media >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
big="$work/big.mp4"
# About 20 MB: 40 s of 4 Mb/s video plus audio.
ffmpeg -hide_banner -loglevel error -y -f lavfi -i "testsrc=size=1280x720:rate=25,noise=alls=60:allf=t" \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 40 -ac 2 \
  -c:v mpeg4 -b:v 4M -c:a aac -b:a 128k "$big"
data=tests/data/media
QT_QPA_PLATFORM=offscreen "$build/tests/media/bench_media" "$big" "$runs" 100 \
  "$big" "$data/clip.avi" "$data/clip.mp4" "$data/silent.mp4" "$data/测试 视频/片段 一.mp4"
