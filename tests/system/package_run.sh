#!/usr/bin/env bash
# package_run.sh BUILD_DIR
#   The Debian package made from the build (CPack), unpacked into a temporary
#   root and started from / under Xvfb: it finds its data in the unpacked
#   /usr/share/games/contrail (beside nothing, and not in the working folder),
#   shows the title card, and Escape ends it with 27. Its software-centre
#   listing (AppStream metainfo) names the desktop entry it ships, and passes
#   appstreamcli's validation; its copyright file is the MIT (Expat) licence.
set -u
build=$(realpath "$1")
golden=$(dirname "$(realpath "$0")")/../golden/frame_00180.png
. "$(dirname "$(realpath "$0")")/../support/x_display.sh"
work=$(mktemp -d)
trap 'kill ${XVFB_PID:-} 2>/dev/null; wait ${XVFB_PID:-} 2>/dev/null; rm -rf "$work"' EXIT
start_xvfb 640x480x16 || exit 1

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null) || { echo "cpack failed"; exit 1; }
deb=$(ls "$work"/out/contrail_*_amd64.deb) || exit 1
echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) KiB; Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/root"
exe=$work/root/usr/games/contrail
data=$work/root/usr/share/games/contrail
[ -x "$exe" ] && [ -f "$data/zazozodoze_tex.obj" ] || { echo "the package lacks the program or its data"; exit 1; }
fail=0
metainfo=$(ls "$work"/root/usr/share/metainfo/*.metainfo.xml 2>/dev/null)
if [ -z "$metainfo" ]; then
  echo "the package has no AppStream metainfo"; fail=1
else
  id=$(basename "$metainfo" .metainfo.xml)
  grep -q "<id>$id</id>" "$metainfo" || { echo "the metainfo's id is not $id"; fail=1; }
  grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" &&
    [ -f "$work/root/usr/share/applications/$id.desktop" ] ||
    { echo "the metainfo does not launch the desktop entry $id.desktop that the package ships"; fail=1; }
  appstreamcli validate --no-net "$metainfo" || { echo "appstreamcli refuses the metainfo"; fail=1; }
fi
grep -q '^License: Expat$' "$work/root/usr/share/doc/contrail/copyright" ||
  { echo "the copyright file does not give the Expat licence"; fail=1; }
export SDL_AUDIODRIVER=dummy
cd / || exit 1
"$exe" >/dev/null 2>"$work/stderr" &
pid=$!
if ! wait_for_window $pid "Tamber's OpenGL Framework"; then
  echo "the window never appeared"
  if kill -0 $pid 2>/dev/null; then echo "the program still runs ($(ps -o stat=,wchan= -p $pid))"
  else echo "the program has ended"; fi
  echo "windows on the screen:"; xwininfo -root -tree 2>&1 | grep -F '"' | grep -vF '(has no name)'
  cat "$work/stderr"; kill -9 $pid 2>/dev/null; exit 1
fi
sleep 3  # well inside the title card (0 to 7 s)
# The screen against the golden title frame (3 s): close on average.
import -window root "$work/shot.png"
mean=$(convert "$work/shot.png" "$golden" -compose difference -composite -colorspace gray -format '%[fx:mean]' info:)
echo "title card: mean difference $mean from the golden frame"
awk -v m="$mean" 'BEGIN { exit !(m != "" && m < 0.02) }' || { echo "the screen does not show the title card"; fail=1; }
xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
wait $pid
status=$?
echo "exit status $status"
cat "$work/stderr"
[ $status -eq 27 ] || { echo "expected status 27"; fail=1; }
exit $fail
