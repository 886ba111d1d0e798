#!/usr/bin/env bash
# Starts the built program on a virtual X display, checks its window's title and client size,
# saves a PNG of the window into the build folder, then closes the program with SIGTERM and checks
# that it wrote its settings file and exited.
#   test_app_screenshot.sh PROGRAM OUTPUT_PNG
# Exits 77 (skipped) when Xvfb or the X tools are missing.
set -euo pipefail
program=$1
output=$2

source "$(dirname "$0")/../../scripts/lib/virtual-display.sh"
require_tools Xvfb xwininfo import

# The program keeps its settings file beside itself: run a copy in a folder of its own.
work=$(mktemp -d)
trap 'stop_virtual_display; rm -rf "$work"' EXIT
cp "$program" "$work/KorvelService"
cp -r "$(dirname "$program")/Help" "$work/Help"

start_virtual_display

QT_QPA_PLATFORM=xcb "$work/KorvelService" &
app=$!

if ! window=$(wait_for_window KorvelService "$app"); then
  kill -0 "$app" 2>/dev/null && { echo "FAIL: no window titled KorvelService appeared"; kill "$app"; exit 1; }
  echo "FAIL: the program exited before showing its window"
  exit 1
fi

info=$(xwininfo -id "$window")
width=$(awk '/Width:/ {print $2}' <<<"$info")
height=$(awk '/Height:/ {print $2}' <<<"$info")
if [ "$width" != 676 ] || [ "$height" != 533 ]; then
  echo "FAIL: client size ${width}x${height}, expected 676x533"
  kill "$app"
  exit 1
fi

# The first paint may land a little after mapping: capture until the picture stops changing.
previous=""
for _ in $(seq 40); do
  import -window "$window" "$output"
  current=$(md5sum < "$output")
  [ "$current" = "$previous" ] && break
  previous=$current
  sleep 0.1
done

kill -TERM "$app"
status=0
wait "$app" || status=$?
if [ "$status" != 0 ]; then
  echo "FAIL: the program exited with $status after SIGTERM"
  exit 1
fi
grep -q "<TCPPort>502</TCPPort>" "$work/KorvelService.xml" || { echo "FAIL: no settings file written at exit"; exit 1; }
echo "window $window: KorvelService, ${width}x${height}, saved $output"
