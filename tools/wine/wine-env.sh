# Sourced by the demo, the benchmarks and the screenshots: the Wine set-up of
# wine_env.py (the one the end-to-end tests use), and a few helpers to drive
# the program from bash. Call wine_up, then wine_down; wine_up points
# PROGRAM, WINCTL and KEYTARGET at the first build this machine runs.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WINE_ENV=("/usr/bin/python3" "$E2E_ROOT/tools/wine/wine_env.py")

wine_up() {
  local exports
  exports=$("${WINE_ENV[@]}" up) || return 1
  eval "$exports"
  use_build "${WINE_BUILDS%% *}"
  echo "wine-env: program $PROGRAM"
}

wine_down() { "${WINE_ENV[@]}" down; }

# Points BUILD, PROGRAM and the Windows test helpers at one build: win32 or win64.
use_build() {
  BUILD=$E2E_ROOT/build/$1
  PROGRAM=$BUILD/qelmo.exe
  WINCTL=$BUILD/tools/win/winctl.exe
  KEYTARGET=$BUILD/tools/win/keytarget.exe
}

# Starts the program in the background: start_program LOG [ARGS...].
# Its exit code lands in LOG.exit.
start_program() {
  local log=$1
  shift
  rm -f "$log.exit"
  (
    wine "$PROGRAM" "$@" >"$log" 2>&1
    echo $? >"$log.exit"
  ) &
}

# Waits up to $2 seconds (default 20) for the program's exit code; prints it.
program_exit() {
  local log=$1 limit=${2:-20}
  for _ in $(seq $((limit * 10))); do
    [ -s "$log.exit" ] && { cat "$log.exit"; return 0; }
    sleep 0.1
  done
  echo "timeout"
}

# The window helper; its output goes through a file (wine's output must not
# go to a pipe), without the CRs of Wine's console.
winctl() {
  local out code=0
  out=$(mktemp "$TMPDIR/winctl.XXXXXX")
  wine "$WINCTL" "$@" >"$out" 2>/dev/null || code=$?
  tr -d '\r' <"$out"
  rm -f "$out"
  return $code
}

# The process id of the program running in this Wine prefix (the newest,
# when there are several): another prefix's programs on this machine are
# not ours to measure.
program_pid() {
  local pid found=""
  for pid in $(pgrep -x qelmo.exe); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && found=$pid
  done
  [ -n "$found" ] && echo "$found"
}

# Waits up to $2 seconds (default 40) for a file to appear; fails if it never does.
await_file() {
  for _ in $(seq $((${2:-40} * 10))); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  echo "wine-env: gave up waiting for $1" >&2
  return 1
}

# Starts the key target window logging to $1 and returns once it holds the
# foreground and the keyboard focus; fails saying why when it does not.
start_target() { "${WINE_ENV[@]}" target "$1" "$(basename "$BUILD")" >/dev/null; }

# The device scripts touch DIR/polling once the program answers and then
# wait for DIR/go. By then the program's main window is shown, so a key
# target started now keeps the focus: start it, logging to DIR/target, then
# let the device go on.
target_when_polling() { # DIR
  await_file "$1/polling" && start_target "$1/target" && touch "$1/go"
}

# The characters the key target received, as one string (CR for Enter).
target_text() { "${WINE_ENV[@]}" target-text "$1"; }

# start_device LINK LOG COMMAND...: the device simulator in the background
# (DEVICE_PID), on a fresh pty behind LINK, its transcript in LOG. Returns
# once the link is there, so that a program started next finds its port.
start_device() {
  local link=$1 log=$2
  shift 2
  rm -f "$link"
  "$DEVICE" --link "$link" "$@" >"$log" 2>&1 &
  DEVICE_PID=$!
  "${WINE_ENV[@]}" await-link "$link" "$DEVICE_PID" "$log"
}
