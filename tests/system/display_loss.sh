#!/usr/bin/env bash
# display_loss.sh CONTRAIL DATA_DIR
#   The display going away (the X server killed) ends the demo within a second
#   with status 1 and one more line on standard error; SIGTERM and SIGINT end
#   it as a close does, with status 0 and nothing more said: also when SDL was
#   told to install no signal handlers, and when SIGTERM was ignored at start.
#   Each while the show plays (a 640x480x16 screen grants full-screen) and
#   while the full-screen question waits (an 800x600 screen has no 640 x 480
#   mode). No child process (the box's) is left behind.
set -u
. "$(dirname "$(realpath "$0")")/../support/x_display.sh"
exe=$1 data=$2
cd "$data" || exit 1

#      while  end    status  new lines on stderr  started with
rows=("show   xkill  1       1                    -"
      "box    xkill  1       1                    -"
      "show   TERM   0       0                    -"
      "box    TERM   0       0                    -"
      "show   TERM   0       0                    no-sdl-handlers"
      "show   TERM   0       0                    TERM-ignored"
      "show   INT    0       0                    -"
      "box    INT    0       0                    -")

fail=0
for row in "${rows[@]}"; do
  read -r while end want lines how <<<"$row"
  echo "== $while, $end, $how"
  if [ "$while" = show ]; then screen=640x480x16 window="Tamber's OpenGL Framework"
  else screen=800x600x24 window="Tamber GL"; fi

  err=$(mktemp)
  start_xvfb $screen || { fail=1; continue; }
  xvfb=$XVFB_PID
  export SDL_AUDIODRIVER=dummy
  # (A job started with & in a script has SIGINT ignored from the start: the
  # program must take it all the same.)
  case $how in
    no-sdl-handlers) SDL_NO_SIGNAL_HANDLERS=1 "$exe" >/dev/null 2>"$err" & ;;
    TERM-ignored) (trap '' TERM; exec "$exe") >/dev/null 2>"$err" & ;;
    *) "$exe" >/dev/null 2>"$err" & ;;
  esac
  pid=$!
  shown=""
  wait_for_window $pid "$window" && shown=1
  if [ "$while" = show ]; then
    # The set-up ends by starting the sound (with the dummy driver it says so
    # on standard error); then a few frames into the show.
    for _ in $(seq 200); do grep -q '^sound:' "$err" && break; sleep 0.05; done
    sleep 0.5
  fi
  children=$(ps -o pid= --ppid $pid | tr -d ' ')
  before=$(wc -l <"$err")

  if [ -z "$shown" ]; then
    echo "the window \"$window\" never appeared"; fail=1
    kill -9 $pid 2>/dev/null
  else
    if [ "$end" = xkill ]; then kill $xvfb; else kill -s "$end" $pid; fi
    start=$(date +%s.%N)
    for _ in $(seq 40); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done
    took=$(echo "$(date +%s.%N) - $start" | bc)
    if kill -0 $pid 2>/dev/null; then echo "still running after $took s"; fail=1; kill -9 $pid; fi
  fi
  wait $pid
  status=$?
  sleep 0.1
  new=$(tail -n +$((before + 1)) "$err")
  count=$(tail -n +$((before + 1)) "$err" | wc -l)
  echo "status $status after ${took:-?} s; new lines on standard error: $count"
  [ -n "$new" ] && printf '%s\n' "$new"
  [ "$status" -eq "$want" ] || { echo "expected status $want"; fail=1; }
  [ "$count" -eq "$lines" ] || { echo "expected $lines new lines"; fail=1; }
  if [ "$end" = xkill ] && ! printf '%s\n' "$new" | grep -q "went away"; then
    echo "the line does not say the display went away"; fail=1
  fi
  if [ "$(echo "${took:-9} > 1" | bc)" -eq 1 ]; then echo "took more than 1 s"; fail=1; fi
  for child in $children; do
    if kill -0 "$child" 2>/dev/null; then echo "child $child outlived the program"; fail=1; kill -9 "$child"; fi
  done

  kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
  rm -f "$err"
done
exit $fail
