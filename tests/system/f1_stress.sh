#!/usr/bin/env bash
# f1_stress.sh CONTRAIL DATA_DIR [TOGGLES]
#   30 (or TOGGLES) F1 toggles 0.4 s apart, then Escape: status 27, every
#   toggle rebuilt the scene, the thread count is what it was before, and the
#   resident memory after the last toggle is within 16 MB of what it was after
#   the 5th.
set -u
exe=$1 data=$2
toggles=${3:-30}
limit_kib=15625  # 16 MB

dfile=$(mktemp)
errlog=$(mktemp)
Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp 3>"$dfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$dfile" "$errlog"' EXIT
for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
[ -s "$dfile" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$dfile") SDL_AUDIODRIVER=dummy

cd "$data" || exit 1
"$exe" >/dev/null 2>"$errlog" &
pid=$!
for _ in $(seq 200); do
  xdotool search --name "Tamber's OpenGL Framework" >/dev/null 2>&1 && break
  sleep 0.05
done
sleep 0.5
field() { awk -v f="$1:" '$1 == f { print $2 }' /proc/$pid/status; }
threads_before=$(field Threads)
[ -n "$threads_before" ] || { echo "the demo is not running"; cat "$errlog"; exit 1; }

# Every set-up starts the sound output once; with the dummy driver each says
# so, and on a sound server (with-sound-server) each opens a new stream.
if [ -n "${PULSE_SERVER:-}" ]; then
  events=$(mktemp)
  pactl subscribe >"$events" 2>/dev/null &
  watcher=$!
  trap 'kill $xvfb $watcher 2>/dev/null; wait $xvfb 2>/dev/null; rm -f "$dfile" "$errlog" "$events"' EXIT
  setups() { echo $((1 + $(grep -c "'new' on sink-input" "$events"))); }
else
  setups() { grep -c '^sound: no audio output' "$errlog"; }
fi

# F1 is held until the set-up it asked for has run, so a press cannot come and
# go between two passes of the loop unseen; with auto-repeat off, each press
# is exactly one toggle.
xset r off
rss5=""
for i in $(seq $toggles); do
  xdotool keydown F1
  for _ in $(seq 250); do [ "$(setups)" -gt "$i" ] && break; sleep 0.02; done
  xdotool keyup F1; sleep 0.3
  [ "$i" -eq 5 ] && rss5=$(field VmRSS)
done
sleep 0.5
rss_end=$(field VmRSS)
threads_after=$(field Threads)
xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
# A process that hangs on its way out (a sound thread that never joins) is a
# failure of its own, told apart from a slow run.
for _ in $(seq 200); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  echo "still running 20 s after Escape; its threads:"
  grep -H . /proc/$pid/task/*/comm 2>/dev/null; grep -H . /proc/$pid/task/*/wchan 2>/dev/null
  kill -KILL $pid
fi
wait $pid
status=$?

setups=$(setups)
echo "status $status; set-ups $setups; threads $threads_before -> $threads_after;" \
     "VmRSS after 5 toggles $rss5 kB, after $toggles $rss_end kB"
fail=0
[ "$status" -eq 27 ] || { echo "expected status 27"; fail=1; }
[ "$setups" -eq $((toggles + 1)) ] || { echo "expected $((toggles + 1)) set-ups"; fail=1; }
[ "$threads_after" = "$threads_before" ] || { echo "the thread count changed"; fail=1; }
[ -n "$rss5" ] && [ -n "$rss_end" ] && [ $((rss_end - rss5)) -le $limit_kib ] ||
  { echo "resident memory grew by more than $limit_kib kB"; fail=1; }
if [ -n "${PULSE_SERVER:-}" ] && [ -s "$errlog" ]; then
  echo "expected nothing on standard error"; cat "$errlog"; fail=1
fi
[ $fail -eq 0 ] || { grep -v '^sound: ' "$errlog"; }
exit $fail
