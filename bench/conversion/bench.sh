#!/bin/sh
# Queue overhead per file, longest timer tick and memory across batches.
# Usage: bench/conversion/bench.sh [build folder]
set -e
BUILD=${1:-build}
cmake --build "$BUILD" -j2 --target bench_conversion vidmora
"$BUILD/tests/conversion/bench_conversion"
