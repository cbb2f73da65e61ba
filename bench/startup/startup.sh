#!/usr/bin/env bash
# Start-up benchmark: time from process start until the main window is mapped
# (the splash's 2000 ms plus our own overhead), and the idle resident memory.
# Usage: bench/startup/startup.sh [runs]   (builds nothing; run scripts/build.sh first)
set -euo pipefail
cd "$(dirname "$0")/../.."
app=build/vidmora/vidmora
runs=${1:-5}
[ -x "$app" ] || { echo "build first: scripts/build.sh"; exit 1; }

xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:77
  sleep 1
fi
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true; }
trap cleanup EXIT

now() { date +%s.%N; }
times=()
rss=()
for i in $(seq 1 "$runs"); do
  start=$(now)
  "$app" >/dev/null 2>&1 &
  pid=$!
  shown=""
  for _ in $(seq 1 1000); do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/"Vidmora": \("vidmora"/ {print $1; exit}')
    if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable"; then
      shown=$(now)
      break
    fi
    sleep 0.005
  done
  [ -n "$shown" ] || { echo "main window never appeared"; kill "$pid"; exit 1; }
  sleep 3
  rss+=("$(awk '/VmRSS/ {print $2}' /proc/$pid/status)")
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  times+=("$(echo "$shown - $start" | bc -l)")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
t=$(median "${times[@]}")
m=$(median "${rss[@]}")
printf 'start to main window: median %.3f s over %d runs (splash 2.000 s, overhead %.0f ms; aim < 150 ms)\n' "$t" "$runs" "$(echo "($t - 2.0) * 1000" | bc -l)"
printf 'idle resident memory: median %.1f MB (aim < 60 MB)\n' "$(echo "$m / 1024" | bc -l)"
