# x_display.sh: sourced by the test scripts that run the demo on a private X
# server.
#   start_xvfb WxHxD      starts Xvfb on a free display (it picks the number
#                         itself, so parallel runs cannot collide), sets
#                         XVFB_PID and exports DISPLAY; fails if it does not
#                         come up within 5 s
#   wait_for_window PID TITLE
#                         true once a window named TITLE is on the screen;
#                         false when PID ends first or after 30 s (on a machine
#                         that has never shown one, the first window or box can
#                         be slow)

start_xvfb() {
  local dfile
  dfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$dfile" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
  if [ ! -s "$dfile" ]; then rm -f "$dfile"; echo "Xvfb did not start"; return 1; fi
  export DISPLAY=:$(head -n1 "$dfile")
  rm -f "$dfile"
}

wait_for_window() {
  for _ in $(seq 600); do
    kill -0 "$1" 2>/dev/null || return 1
    xwininfo -root -tree 2>/dev/null | grep -qF "\"$2\"" && return 0
    sleep 0.05
  done
  return 1
}
