# Sourced by scripts that need an X display of their own and a window on it.
# start_virtual_display: starts Xvfb on a display number that the server itself picks as free
# (xvfb-run -a guesses from lock files and races with a server that is just going away), exports
# DISPLAY and sets VIRTUAL_DISPLAY_PID once the server answers. stop_virtual_display ends it.

# require_tools TOOL...: a test script that cannot run without them is skipped (status 77).
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
}

start_virtual_display() {
  local fifo
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  # -noreset: a server that resets when its last client leaves refuses the next one meanwhile, as
  # a program started on it just after another one ended.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  VIRTUAL_DISPLAY_PID=$!
  local number=""
  read -r -t 10 number <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$number" ]; then
    kill "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
    echo "Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
  # The number is announced a moment before the server takes clients: a client that connects
  # without retrying (Qt's) can be refused then, so wait until one is served.
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  echo "Xvfb on $DISPLAY does not answer" >&2
  stop_virtual_display
  return 1
}

stop_virtual_display() {
  if [ -n "${VIRTUAL_DISPLAY_PID:-}" ]; then
    kill "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
    wait "$VIRTUAL_DISPLAY_PID" 2>/dev/null || true
    VIRTUAL_DISPLAY_PID=""
  fi
}

# wait_for_window NAME [PID]: prints the id of the viewable top-level window whose name and class
# are NAME (Qt's helper windows share only the name) once it appears; fails after 15 seconds, or
# as soon as process PID, when given, has ended.
wait_for_window() {
  local name=$1 pid=${2:-} window
  for _ in $(seq 300); do
    window=$(xwininfo -root -tree 2>/dev/null | awk -v tag="\"$name\": (\"$name\"" 'index($0, tag) {print $1; exit}')
    if [ -n "$window" ] && xwininfo -id "$window" 2>/dev/null | grep -q "Map State: IsViewable"; then
      echo "$window"
      return 0
    fi
    if [ -n "$pid" ] && ! kill -0 "$pid" 2>/dev/null; then
      return 1
    fi
    sleep 0.05
  done
  return 1
}
