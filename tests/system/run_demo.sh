#!/usr/bin/env bash
# run_demo.sh CONTRAIL DATA_DIR full|escape
#   full:   the show runs by itself and the process exits with 0 after about 52 s
#   escape: Escape held down a moment after start ends it with status 27
# Under tests/support/with-sound-server (PULSE_SERVER set) it plays on that
# server, and standard error must stay empty.
set -u
exe=$1 data=$2 mode=$3

# Xvfb picks a free display number itself, so parallel runs cannot collide.
dfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp 3>"$dfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$dfile"' EXIT
for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
[ -s "$dfile" ] || { echo "Xvfb did not start"; exit 1; }
display=:$(head -n1 "$dfile")

export DISPLAY=$display SDL_AUDIODRIVER=dummy
cd "$data" || exit 1
start=$(date +%s.%N)
"$exe" >/dev/null 2>stderr.log &
pid=$!

# The window shows up once the window is made and the scene is set up.
shown=""
for _ in $(seq 200); do
  if xdotool search --name "Tamber's OpenGL Framework" >/dev/null 2>&1; then
    shown=$(date +%s.%N); break
  fi
  sleep 0.05
done
[ -n "$shown" ] || { echo "the window never appeared"; kill $pid; exit 1; }
echo "window after $(echo "$shown - $start" | bc) s"

if [ "$mode" = escape ]; then
  sleep 2
  xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
fi
wait $pid
status=$?
end=$(date +%s.%N)
elapsed=$(echo "$end - $start" | bc)
echo "exit status $status after $elapsed s"
errors=$(cat stderr.log); rm -f stderr.log
[ -n "$errors" ] && echo "$errors"
if [ -n "${PULSE_SERVER:-}" ] && [ -n "$errors" ]; then echo "expected nothing on standard error"; exit 1; fi

if [ "$mode" = escape ]; then
  [ $status -eq 27 ] || { echo "expected status 27"; exit 1; }
else
  [ $status -eq 0 ] || { echo "expected status 0"; exit 1; }
  # The show lasts 52 s of music; allow for start-up.
  if [ "$(echo "$elapsed < 51.5 || $elapsed > 65" | bc)" -eq 1 ]; then echo "the show did not last about 52 s"; exit 1; fi
fi
