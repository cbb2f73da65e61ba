# Sourced by scripts that need an X server. `start_xvfb FIRST`: when no DISPLAY
# is set, starts Xvfb on the first free display number from FIRST to FIRST+40,
# exports DISPLAY, leaves the server's pid in xvfb_pid ("" when none was
# started) and waits until the server's socket is there. `stop_xvfb` ends it.
xvfb_pid=""
start_xvfb() {
  [ -z "${DISPLAY:-}" ] || return 0
  local n first=${1:-90}
  for n in $(seq "$first" $((first + 40))); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      xvfb_pid=$!
      export DISPLAY=":$n"
      break
    fi
  done
  for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X${DISPLAY#:}" ] && break
    sleep 0.1
  done
}
stop_xvfb() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; }
