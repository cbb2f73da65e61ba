#!/usr/bin/env bash
# Start-up benchmark: time from process start until the main window is mapped
# (the splash's 2000 ms plus our own overhead), and the idle resident memory.
# Then the same from a copy of the installation folder, without a settings
# file and with a 50 MB libcfg.ini (50 MB of blank lines, the settings at the
# end), compared in the same run.
# Usage: bench/startup/startup.sh [runs]   (builds nothing; run scripts/build.sh first)
set -euo pipefail
cd "$(dirname "$0")/../.."
app=build/vidmora/vidmora
runs=${1:-5}
[ -x "$app" ] || { echo "build first: scripts/build.sh"; exit 1; }

. scripts/xvfb.sh
tmp=$(mktemp -d)
cleanup() {
  stop_xvfb
  rm -rf "$tmp"
}
trap cleanup EXIT
start_xvfb 77

now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

# run_once PROGRAM: appends the seconds to the main window, the CPU time the
# process had used by then and its idle memory to the arrays named by $1_t,
# $1_c, $1_m.
run_once() {
  local name=$1 program=$2 start pid shown id cpu tick
  tick=$(getconf CLK_TCK)
  start=$(now)
  "$program" >/dev/null 2>&1 &
  pid=$!
  shown=""
  for _ in $(seq 1 4000); do
    id=$(xwininfo -root -tree 2>/dev/null | awk '/"Vidmora": \("vidmora"/ {print $1; exit}')
    if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable"; then
      shown=$(now)
      cpu=$(awk -v t="$tick" '{print ($14 + $15) / t}' "/proc/$pid/stat")
      break
    fi
    sleep 0.005
  done
  [ -n "$shown" ] || { echo "main window never appeared"; kill "$pid"; exit 1; }
  sleep 3
  eval "${name}_m+=(\"$(awk '/VmRSS/ {print $2}' /proc/$pid/status)\")"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  eval "${name}_t+=(\"$(echo "$shown - $start" | bc -l)\")"
  eval "${name}_c+=(\"$cpu\")"
}
overhead() { echo "($1 - 2.0) * 1000" | bc -l; }

main_t=() main_c=() main_m=()
for _ in $(seq 1 "$runs"); do run_once main "$app"; done
T=$(median "${main_t[@]}")
printf 'start to main window: median %.3f s over %d runs (splash 2.000 s, overhead %.0f ms; aim < 150 ms)\n' "$T" "$runs" "$(overhead "$T")"
printf 'idle resident memory: median %.1f MB (aim < 60 MB)\n' "$(echo "$(median "${main_m[@]}") / 1024" | bc -l)"

# Two portable copies of the installation folder (the program finds its files
# beside its own executable; without the marker file it keeps its settings
# there too), their links pointing where the built ones do; one gets the big
# settings file. Their runs alternate, so both see the same load.
for copy in "$tmp/plain" "$tmp/big"; do
  mkdir "$copy"
  for f in build/vidmora/*; do
    if [ "$(basename "$f")" = user-files ]; then
      continue
    elif [ -L "$f" ]; then ln -s "$(readlink -f "$f")" "$copy/$(basename "$f")"; else cp -r "$f" "$copy/"; fi
  done
done
{ head -c $((50 * 1024 * 1024)) /dev/zero | tr '\0' '\n'; printf '[SaveDir]\nDir=/tmp\n[ChgDirFlag]\nFlag=Yes\n'; } >"$tmp/big/libcfg.ini"
sync
plain_t=() plain_c=() plain_m=() big_t=() big_c=() big_m=()
for _ in $(seq 1 "$runs"); do
  run_once plain "$tmp/plain/vidmora"
  run_once big "$tmp/big/vidmora"
done
pt=$(median "${plain_t[@]}") bt=$(median "${big_t[@]}")
pc=$(median "${plain_c[@]}") bc_=$(median "${big_c[@]}")
printf 'with a 50 MB libcfg.ini: median %.3f s to the main window (overhead %.0f ms; aim < 200 ms), CPU %.0f ms, memory %.1f MB\n' \
  "$bt" "$(overhead "$bt")" "$(echo "$bc_ * 1000" | bc -l)" "$(echo "$(median "${big_m[@]}") / 1024" | bc -l)"
printf 'without one, same run:   median %.3f s to the main window (overhead %.0f ms), CPU %.0f ms, memory %.1f MB\n' \
  "$pt" "$(overhead "$pt")" "$(echo "$pc * 1000" | bc -l)" "$(echo "$(median "${plain_m[@]}") / 1024" | bc -l)"
printf 'the big file costs: %.0f ms of wall time, %.0f ms of CPU time\n' \
  "$(echo "($bt - $pt) * 1000" | bc -l)" "$(echo "($bc_ - $pc) * 1000" | bc -l)"
