#!/usr/bin/env bash
# device_loss.sh linux|wine NAME EXE DATA
#   Under tests/support/with-sound-server: plays the show of EXE (the Linux
#   build, or contrail.exe under Wine) on the private server with its clock
#   logged, and kills the server (SIGKILL, by its PID) once the clock reaches
#   10 s: the sound device is gone for good, as when headphones switch off or
#   the server crashes. The show must go on by itself: end with status 0 at
#   52 +- 1 s of the clock's start, the clock still rising in real time after
#   the loss, and one line on standard error saying the output has gone.
#   Exits with 77 (skipped) without EXE.
set -u
kind=$1 name=$2 exe=$3 data=$4
[ -n "${SOUND_SERVER_PID:-}" ] || { echo "device_loss.sh: run it under with-sound-server"; exit 1; }
[ -e "$exe" ] || { echo "device_loss.sh: no $exe; skipped"; exit 77; }
. "$(dirname "$0")/../support/x_display.sh"

tmp=$(mktemp -d)
trap 'kill $pid 2>/dev/null; [ "$kind" = wine ] && wineserver -k 2>/dev/null; kill $XVFB_PID 2>/dev/null;
      wait $XVFB_PID 2>/dev/null; rm -rf "$tmp"' EXIT
pid=""
start_xvfb 640x480x16 || exit 1
cd "$data" || exit 1
log=$tmp/clock.log
if [ "$kind" = wine ]; then
  export WINEPREFIX=${WINEPREFIX:-$(dirname "$exe")/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1 || true
  clockid=CLOCK_MONOTONIC_RAW  # Wine's performance counter, and so its steady clock
  CONTRAIL_CLOCK_LOG=$(winepath -w "$log") wine "$exe" >/dev/null 2>"$tmp/err" &
else
  clockid=CLOCK_MONOTONIC
  CONTRAIL_CLOCK_LOG=$log "$exe" >/dev/null 2>"$tmp/err" &
fi
pid=$!
now() { python3 -c "import time; print(time.clock_gettime_ns(time.$clockid))"; }
# The clock's latest reading in frames (the log is written in blocks: a
# line may be cut short; readings are at 48 kHz).
clock() { tail -n 2 "$log" 2>/dev/null | awk 'NF == 3 && $3 == 48000 { f = $2 } END { print f + 0 }'; }

for _ in $(seq 600); do
  [ "$(clock)" -ge 480000 ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
[ "$(clock)" -ge 480000 ] || { echo "device_loss $name: the clock never reached 10 s"; cat "$tmp/err"; exit 1; }
killed=$(now)
kill -KILL "$SOUND_SERVER_PID"
echo "device_loss $name: sound server killed at clock $(clock) frames"

# The show has 42 s to go; give it 60 before calling it hung.
for _ in $(seq 600); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  echo "device_loss $name: FAIL: still running 60 s after the loss, clock at $(clock) frames"
  kill $pid; wait $pid; exit 1
fi
wait $pid
status=$?
ended=$(now)
pid=""

fail=0
[ $status -eq 0 ] || { echo "device_loss $name: FAIL: ended with status $status, expected 0"; fail=1; }
# The clock's start (its first reading past 0, less the frames it read) to the
# end; and how far the clock moved from the loss to its last reading, against
# the time that passed.
# Until the loss the clock is the music heard, which a loaded machine may
# hold up (underruns); from the loss on it is real time alone. So the show
# ends on time when the clock at the loss plus the time from the loss to the
# end is 52 +- 1 s.
read -r length after wall < <(awk -v killed="$killed" -v ended="$ended" '
  NF == 3 && $3 == 48000 {
    if (start == "" && $2 > 0) start = $1 - $2 * 1e9 / 48000
    if ($1 <= killed) atkill = $2
    last = $1; lastf = $2
  }
  END {
    printf "%.2f %.2f %.2f\n", atkill / 48000 + (ended - killed) / 1e9, (lastf - atkill) / 48000, (last - killed) / 1e9
    printf "device_loss: clock %.2f s at the loss; %.2f s from its start to the end; last reading %.2f s\n",
      atkill / 48000, (ended - start) / 1e9, lastf / 48000 > "/dev/stderr"
  }' "$log" 2>"$tmp/detail")
echo "device_loss $name: ended with status $status at $length s of the show (the clock at the loss, then" \
     "real time); after the loss the clock moved $after s in $wall s"
sed "s/^device_loss:/device_loss $name:/" "$tmp/detail"
awk -v l="$length" 'BEGIN { exit !(l >= 51 && l <= 53) }' ||
  { echo "device_loss $name: FAIL: the show should end 52 +- 1 s into it"; fail=1; }
awk -v a="$after" -v w="$wall" 'BEGIN { exit !(w > 30 && a >= w - 1 && a <= w + 0.1) }' ||
  { echo "device_loss $name: FAIL: the clock did not keep real time after the loss"; fail=1; }
lines=$(grep -c "audio output has gone" "$tmp/err")
[ "$lines" -eq 1 ] || { echo "device_loss $name: FAIL: $lines lines saying the output has gone, expected 1"; fail=1; }
[ "$kind" = wine ] || [ "$(wc -l <"$tmp/err")" -eq 1 ] || { echo "device_loss $name: FAIL: more on standard error"; fail=1; }
echo "device_loss $name: standard error:"; sed 's/^/  /' "$tmp/err"
exit $fail
