#!/usr/bin/env bash
# The built program on a virtual X display against the module simulator, driven by its keys as an
# operator would: its trace watched live through a FIFO and through "| cat", and a trace to /dev/full
# told once on stderr while the program goes on.
#   test_app_trace.sh PROGRAM SIMULATOR
# Exits 77 (skipped) when Xvfb or the X tools are missing.
set -euo pipefail
program=$1
simulator=$2

source "$(dirname "$0")/../../scripts/lib/virtual-display.sh"
require_tools Xvfb xwininfo xdotool xdpyinfo

work=$(mktemp -d)
simulator_pid=""
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  [ -n "$simulator_pid" ] && kill "$simulator_pid" 2>/dev/null || true
  stop_virtual_display
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for errors in "$work"/errors-*; do
    [ -s "$errors" ] && { echo "--- $(basename "$errors"):"; cat "$errors"; }
  done
  exit 1
}

# until COMMAND succeeds, for at most 15 seconds
eventually() {
  for _ in $(seq 300); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

has_lines() { [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ]; }
# The program's windows on the display: its main window, and a box while one is open.
windows_shown() { [ "$(xdotool search --onlyvisible --name '^KorvelService$' 2>/dev/null | wc -l)" -eq "$1" ]; }

# The program keeps its settings file beside itself: a copy in a folder of its own, pointed at the
# simulator on a port the system chose.
cp "$program" "$work/KorvelService"
"$simulator" --port 0 --bind 127.0.0.1 >"$work/simulator.log" 2>&1 &
simulator_pid=$!
listening() { grep -q 'listening on 127.0.0.1:' "$work/simulator.log"; }
eventually listening || fail "the simulator did not start"
port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/simulator.log")
printf '<CONNECT><IPAddress>127.0.0.1</IPAddress><TCPPort>%s</TCPPort></CONNECT>' "$port" >"$work/KorvelService.xml"

start_virtual_display
export QT_QPA_PLATFORM=xcb

# Ctrl+R in the main window, then Return to the box that tells the outcome.
read_configuration() {
  local window
  eventually windows_shown 1 || fail "the main window is not alone on the display"
  window=$(xdotool search --onlyvisible --name '^KorvelService$' | head -1)
  xdotool windowfocus --sync "$window"
  xdotool key ctrl+r
  eventually windows_shown 2 || fail "no box told the outcome of the read"
  xdotool key Return
}

stop_program() {
  kill -TERM "$app"
  wait "$app" || fail "the program exited with $? after SIGTERM"
  app=""
}

# The header's three lines, then the three of a read: the connection, the request, the reply.
check_read_lines() {
  eventually has_lines "$1" 6 || fail "$2: $(wc -l <"$1") lines arrived, not 6"
  grep -q '^# ==== KorvelService ' "$1" || fail "$2: no header"
  grep -q ' !! | соединение установлено (127\.0\.0\.1:[0-9]*)$' "$1" || fail "$2: no connection line"
  grep -q ' >> 00 01 00 00 00 06 FF 03 00 54 00 38 | ' "$1" || fail "$2: no request line"
  grep -q ' << 00 01 00 00 00 73 FF 03 70 ' "$1" || fail "$2: no reply line"
}

cd "$work"

# A FIFO that something reads.
mkfifo trace-fifo
cat trace-fifo >from-fifo &
reader=$!
./KorvelService --trace trace-fifo 2>errors-fifo &
app=$!
read_configuration
check_read_lines from-fifo "the FIFO"
stop_program
wait "$reader"

# The standard output, a pipe to cat.
./KorvelService --trace - 2>errors-pipe > >(cat >from-pipe) &
app=$!
read_configuration
check_read_lines from-pipe "| cat"
stop_program

# A device that takes nothing: told once, however many reads follow, and the program goes on.
./KorvelService --trace /dev/full 2>errors-full &
app=$!
read_configuration
read_configuration
eventually windows_shown 1 || fail "the box after the second read stayed open"
kill -0 "$app" || fail "the program ended"
told=$(grep -c '^KorvelService: Запись трассировки прекращена: нет места на диске$' errors-full || true)
[ "$told" = 1 ] || fail "/dev/full told $told times: $(cat errors-full)"
stop_program

echo "PASS"
