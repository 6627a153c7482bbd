#!/usr/bin/env bash
# run_sync.sh linux|wine|web NAME EXE DATA TOOLS_DIR [MEAN SD]
#   Under tests/support/with-sound-server: plays the whole show of EXE (the
#   Linux build, or contrail.exe under Wine; for the web, EXE is the page's
#   folder and 15 s of the show play in headless Chromium) on the null sink with its clock
#   logged, records the sink's monitor, stops the program for 300 ms at about
#   25 s, and hands everything to contrail_sync_check, which prints the
#   offsets (and, given the limits, fails beyond MEAN ms of mean or SD ms of
#   spread, or when the clock is not back within 5 ms of its mean within 1 s
#   of the stall; an SD of 0 holds the mean only). The show must end by itself
#   with status 0 and nothing on standard error. Exits with 77 (skipped)
#   without EXE. With SYNC_BUSY=N in the environment, N busy loops
#   (`sh -c 'while :; do :; done'`) run beside the show until about 45 s into
#   it, ended by their PIDs.
set -u
here=$(cd "$(dirname "$0")" && pwd)
kind=$1 name=$2 exe=$3 data=$4 tools=$5
shift 5
[ -n "${PULSE_SERVER:-}" ] || { echo "run_sync.sh: no PULSE_SERVER (run it under with-sound-server)"; exit 1; }
[ -e "$exe" ] || { echo "run_sync.sh: no $exe; skipped"; exit 77; }
if [ "$kind" = wine ]; then
  export WINEPREFIX=${WINEPREFIX:-$(dirname "$exe")/wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
fi

tmp=$(mktemp -d)
dfile=$tmp/display
Xvfb -displayfd 3 -screen 0 640x480x16 -nolisten tcp 3>"$dfile" >/dev/null 2>&1 &
xvfb=$!
rec=""
busy=""
cleanup() {
  [ -n "$busy" ] && kill $busy 2>/dev/null
  [ -n "$rec" ] && kill "$rec" 2>/dev/null
  [ "$kind" = wine ] && wineserver -k 2>/dev/null
  kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$dfile" ] && break; sleep 0.05; done
[ -s "$dfile" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n1 "$dfile")

# The recorder and the sound server are light: keep them from starving beside
# the renderer where the system allows it.
chrt -f 5 "$tools/contrail_sync_record" out.monitor "$tmp/rec" 2>/dev/null &
rec=$!
# The sink's own latency (what a listener hears later than its monitor): the
# null sink's report is anywhere within its block at any one moment, and far
# larger while it idles before the show's stream comes, so the median of ten
# reports, a second apart, into FILE.
sink_latency() {
  for _ in $(seq 10); do
    sleep 1
    pactl list sinks 2>/dev/null | awk '$1 == "Latency:" { print $2; exit }'
  done | sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }' >"$1"
}
cd "$data" || exit 1
for _ in $(seq "${SYNC_BUSY:-0}"); do
  sh -c 'while :; do :; done' &
  busy="$busy $!"
done
[ -n "$busy" ] && echo "sync $name: ${SYNC_BUSY} busy loops beside the show"
if [ "$kind" = web ]; then
  # EXE is the page's folder; 15 s of the show, no stall (a page cannot be stopped alone).
  clockbase=realtime
  sink_latency "$tmp/latency" &
  NODE_PATH=/usr/share/nodejs node "$here/web_sync.mjs" "$exe" \
    "$tmp/clock.log" 15 >"$tmp/out" 2>"$tmp/err"
  status=$?
  kill -INT $rec; wait $rec; rec=""
  cat "$tmp/out"
  [ -n "${SYNC_KEEP:-}" ] && cp "$tmp/rec.raw" "$tmp/rec.stamps" "$tmp/clock.log" "$SYNC_KEEP/"
  [ $status -eq 0 ] || { cat "$tmp/err"; exit 1; }
  echo "sync $name: offset run of 15 s; sink latency $(cat "$tmp/latency") us;" \
       "load average $(cut -d' ' -f1-3 /proc/loadavg)"
  "$tools/contrail_sync_check" "$name" "$data/music.mp3" "$tmp/rec" "$tmp/clock.log" realtime \
    "$(cat "$tmp/latency")" 0 "$@"
  exit
elif [ "$kind" = wine ]; then
  wineboot -i >/dev/null 2>&1 || true
  clockbase=raw  # Wine's performance counter, and so its steady clock
  CONTRAIL_CLOCK_LOG=$(winepath -w "$tmp/clock.log") CONTRAIL_FPS=1 wine "$exe" >"$tmp/out" 2>"$tmp/err" &
else
  clockbase=monotonic
  CONTRAIL_CLOCK_LOG=$tmp/clock.log "$exe" >/dev/null 2>"$tmp/err" &
fi
pid=$!
start=$(date +%s.%N)
# The sink's latency while the show plays; the stall a while later.
sink_latency "$tmp/latency"
latency=$(cat "$tmp/latency")
sleep 15
clockid=CLOCK_MONOTONIC
[ "$kind" = wine ] && clockid=CLOCK_MONOTONIC_RAW
stall=$(python3 -c "import time; print(time.clock_gettime_ns(time.$clockid))")
kill -STOP $pid; sleep 0.3; kill -CONT $pid
# The busy loops stop at about 45 s of the show: with them running, the GL
# driver (llvmpipe) has been seen to hang for good while the program closes
# its display at the end, before and after the changes to the sound clock.
if [ -n "$busy" ]; then
  sleep 20
  kill $busy 2>/dev/null
  busy=""
fi
wait $pid
status=$?
elapsed=$(echo "$(date +%s.%N) - $start" | bc)
sleep 0.3
kill -INT $rec; wait $rec; rec=""
# SYNC_KEEP=<folder> keeps the recording and the clock log for a second look.
[ -n "${SYNC_KEEP:-}" ] && cp "$tmp/rec.raw" "$tmp/rec.stamps" "$tmp/clock.log" "$SYNC_KEEP/" &&
  echo "$latency $stall" >"$SYNC_KEEP/args"
echo "sync $name: offset run ended with status $status after $elapsed s; sink latency ${latency:-?} us;" \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
fail=0
[ $status -eq 0 ] || { echo "expected status 0"; fail=1; }
if [ -s "$tmp/err" ]; then echo "standard error was not empty:"; cat "$tmp/err"; fail=1; fi
"$tools/contrail_sync_check" "$name" "$data/music.mp3" "$tmp/rec" "$tmp/clock.log" $clockbase "${latency:-0}" \
  "$stall" "$@" \
  || fail=1
exit $fail
