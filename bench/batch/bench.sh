#!/usr/bin/env bash
# A batch of 8 x 10 s SD clips and one of 2 x 60 s 1080p clips converted
# through the main window with 同时转换 at 自动 against 1, in turns in one run:
# the throughput of each and its peak memory. The clips are made with ffmpeg
# (moving pictures with grain, so that the encoder has work to do).
# Usage: bench/batch/bench.sh [build dir] [rounds]   (default: build, 2)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rounds=${2:-2}
cmake --build "$build" -j2 --target bench_batch vidmora vidmora_encoder vidmora_mediaprobe >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip() {  # name size seconds
  ffmpeg -hide_banner -loglevel error -nostdin -y \
    -f lavfi -i "testsrc2=size=$2:rate=25,noise=alls=12:allf=t+u,hue=H=t*0.3" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$3" \
    -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -c:a aac -b:a 128k "$work/$1"
}
sd=()
for i in 1 2 3 4 5 6 7 8; do clip "sd$i.mp4" 720x576 10; sd+=("$work/sd$i.mp4"); done
hd=()
for i in 1 2; do clip "hd$i.mp4" 1920x1080 60; hd+=("$work/hd$i.mp4"); done
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/tests/conversion/bench_batch" "$rounds" "SD 8 x 10 s" "${sd[@]}" -- "1080p 2 x 60 s" "${hd[@]}"
