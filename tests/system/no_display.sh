#!/usr/bin/env bash
# no_display.sh CONTRAIL DATA_DIR
#   With DISPLAY unset, and with DISPLAY naming a display nobody serves, the
#   demo says so in one line on standard error and ends with status 1, without
#   asking about full-screen.
set -u
exe=$1 data=$2
cd "$data" || exit 1
n=100
while [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ]; do n=$((n + 1)); done

fail=0
for display in "" ":$n"; do
  err=$(if [ -z "$display" ]; then env -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy "$exe"
        else env -u WAYLAND_DISPLAY DISPLAY="$display" SDL_AUDIODRIVER=dummy "$exe"; fi 2>&1 >/dev/null)
  status=$?
  echo "DISPLAY='$display': status $status; standard error:"
  printf '%s\n' "$err"
  [ "$status" -eq 1 ] || { echo "expected status 1"; fail=1; }
  [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || { echo "expected one line"; fail=1; }
  printf '%s\n' "$err" | grep -q 'no display' || { echo "the line does not say there is no display"; fail=1; }
done
exit $fail
