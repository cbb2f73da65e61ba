#!/usr/bin/env bash
# How long the window stalls while a 1000-row list is kept on disk after every
# change, against writing the file on the window's thread.
# Usage: bench/queue/bench.sh [build dir] [rows]   (default: build, 1000)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
rows=${2:-1000}
cmake --build "$build" -j2 --target bench_queue_save >/dev/null
QT_QPA_PLATFORM=offscreen "$build/tests/app/bench_queue_save" "$rows"
