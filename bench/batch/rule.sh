#!/usr/bin/env bash
# The measurements behind the rule of 自动: a batch of clips converted by the
# encoder directly, K at a time with -threads T each (T 0: the libraries
# choose), wall time and each encoder's peak memory (GNU time's %M).
# Usage: bench/batch/rule.sh ENCODER "K:T K:T ..." CLIP...
#   e.g. bench/batch/rule.sh build/vidmora/make "1:0 2:1 2:0" sd*.mp4
set -euo pipefail
make=$1
shift
plans=$1
shift
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for plan in $plans; do
  k=${plan%%:*}
  t=${plan##*:}
  rm -f "$out"/*.mp4 "$out"/mem
  start=$(date +%s.%N)
  printf '%s\n' "$@" | xargs -P "$k" -I{} sh -c \
    '/usr/bin/time -f %M -a -o "$1/mem" "$2" -y -ipt "$3" -threads "$4" "$1/$(basename "$3" | sed "s/\.[^.]*$//").mp4" 2>/dev/null' \
    _ "$out" "$make" {} "$t"
  end=$(date +%s.%N)
  peak=$(sort -n "$out/mem" | tail -1)
  printf '%d at once, -threads %d: %.2f s, peak memory of one encoder %d MB, load %s\n' \
    "$k" "$t" "$(echo "$end - $start" | bc)" $((peak / 1024)) "$(cut -d' ' -f1 /proc/loadavg)"
done
