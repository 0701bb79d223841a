# Sourced by the end-to-end tests, the demo and the benchmark: a private Wine
# prefix whose COM1 is a link the device simulator points at its pty, a
# virtual display, and a persistent wineserver. Call wine_up, then wine_down;
# wine_up picks the executables this machine can run (WINE_BUILDS) and points
# PROGRAM at the first of them.
#
# Facts this relies on (measured on Debian 12, Wine 8):
# - At a cold start Wine maps COM1 to /dev/ttyS0, the kernel console here,
#   unless HKLM\Software\Wine\Ports says otherwise; the key takes effect only
#   at the next cold start of the wineserver. A port mapped to "" still
#   opens (and then fails set-up); one mapped to a directory cannot be opened,
#   which is what an absent port does on Windows.
# - A wineserver that wine starts by itself takes the pty as its controlling
#   terminal and floods its stderr when the device side closes: start it
#   ourselves, persistent, with stderr to a file.
# - Wine's helper processes keep the first wine call's stdout open: send
#   wine's output to files, never through a pipe.

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=${TALLIVER_WINE_DIR:-$E2E_ROOT/build/wine}
COM_LINK=$WORK/com1
NO_PORT=$WORK/no-port # a directory: a COM port mapped to it cannot be opened
DEVICE=$E2E_ROOT/build/native/tools/device/talliver-device
source "$E2E_ROOT/tools/wine-arch.sh"

export TMPDIR=$WORK/tmp
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Chooses how Wine runs here. Where 32-bit Wine runs, the prefix is a WoW64
# one and both executables run, the i686 release first; elsewhere every Wine
# command goes through the 64-bit loader (Debian's wrapper would pick the
# 32-bit one whenever wine32 is installed, runnable or not) and only the
# x86-64 build runs. Sets WINE_BUILDS, and WINE32_WHY_NOT when 32-bit is out.
choose_wine() {
  probe_32bit
  if [ -z "$WINE32_WHY_NOT" ] && [ ! -x /usr/lib/wine/wine ]; then
    WINE32_WHY_NOT="32-bit Wine (wine32:i386) is not installed"
  fi
  local loader
  if [ -z "$WINE32_WHY_NOT" ]; then
    WINE_BUILDS="win32 win64"
    export WINEPREFIX=$WORK/prefix
    loader=$(command -v wine || echo wine)
  else
    WINE_BUILDS="win64"
    export WINEPREFIX=$WORK/prefix64
    local bin=$WORK/wine64-bin
    mkdir -p "$bin"
    printf '#!/bin/sh\nWINELOADER=/usr/lib/wine/wine64 exec /usr/lib/wine/wine64 "$@"\n' >"$bin/wine"
    for tool in wineboot winepath; do
      printf '#!/bin/sh\nexec "%s/wine" %s "$@"\n' "$bin" "$tool" >"$bin/$tool"
    done
    chmod +x "$bin"/*
    case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
    loader=/usr/lib/wine/wine64
  fi
  local code=0
  wine --version >/dev/null 2>&1 || code=$?
  if [ "$code" != 0 ]; then
    echo "wine-env: Wine cannot start: '$loader --version' exits $code" >&2
    return 1
  fi
}

# Points BUILD, PROGRAM and the Windows test helpers at one build: win32 or win64.
use_build() {
  BUILD=$E2E_ROOT/build/$1
  PROGRAM=$BUILD/qelmo.exe
  WINCTL=$BUILD/tools/win/winctl.exe
  KEYTARGET=$BUILD/tools/win/keytarget.exe
}

start_display() {
  for n in $(seq 90 120); do
    [ -e /tmp/.X$n-lock ] && continue
    Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do
      [ -e /tmp/.X11-unix/X$n ] && { export DISPLAY=:$n; return 0; }
      kill -0 $XVFB_PID 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "wine-env: no display could be started" >&2
  return 1
}

map_ports() {
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$COM_LINK" /f >/dev/null 2>&1
  for n in 2 3 4 5 6 7 8 9; do
    wine reg add 'HKLM\Software\Wine\Ports' /v COM$n /d "$NO_PORT" /f >/dev/null 2>&1
  done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

wine_up() {
  mkdir -p "$WORK" "$TMPDIR" "$NO_PORT"
  choose_wine || return 1
  use_build "${WINE_BUILDS%% *}"
  [ -n "$WINE32_WHY_NOT" ] && echo "wine-env: 64-bit Wine only, running the x86-64 build: $WINE32_WHY_NOT"
  start_display || return 1
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-env: creating the Wine prefix (about half a minute)"
    local code=0
    wineboot -i >"$WORK/wineboot.log" 2>&1 || code=$?
    if [ "$code" != 0 ]; then
      echo "wine-env: creating the Wine prefix failed (exit $code); see $WORK/wineboot.log" >&2
      return 1
    fi
    wineserver -w
  fi
  map_ports
  wineserver -p -f 2>"$WORK/wineserver.log" &
  WINESERVER_PID=$!
  sleep 0.3
  wine cmd /c exit >/dev/null 2>&1
  if [ "$(readlink "$WINEPREFIX/dosdevices/com1")" != "$COM_LINK" ]; then
    echo "wine-env: COM1 is $(readlink "$WINEPREFIX/dosdevices/com1"), not $COM_LINK" >&2
    return 1
  fi
  echo "wine-env: $(wine --version 2>/dev/null), display $DISPLAY, program $PROGRAM"
}

wine_down() {
  wineserver -k 2>/dev/null || true
  [ -n "${WINESERVER_PID:-}" ] && wait "$WINESERVER_PID" 2>/dev/null
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  return 0
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

# Wine's console ends lines with CR LF; the tests compare plain lines.
winctl() { wine "$WINCTL" "$@" 2>/dev/null | tr -d '\r'; }

# Waits up to $2 seconds (default 40) for a file to appear; fails if it never does.
await_file() {
  for _ in $(seq $((${2:-40} * 10))); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  echo "wine-env: gave up waiting for $1" >&2
  return 1
}

# The device scripts touch DIR/polling once the program answers and then
# wait for DIR/go. By then the program's main window is shown, so a key
# target started now keeps the focus: start it, logging to DIR/target, then
# let the device go on.
target_when_polling() { # DIR
  await_file "$1/polling" && start_target "$1/target" && touch "$1/go"
}

# The characters the key target received, as one string (CR for Enter).
target_text() {
  local text=""
  for code in $(tr -d '\r' <"$1" | sed -n 's/^[0-9]* CHAR \(..\)$/\1/p'); do
    text+=$(printf "\\x$code")
  done
  printf '%s' "$text"
}

# start_device LINK LOG COMMAND...: the device simulator in the background
# (DEVICE_PID), on a fresh pty behind LINK, its transcript in LOG. Returns
# once the link is there, so that a program started next finds its port; a
# link left from an earlier device is removed first, so it cannot pass for
# the new one. Fails, saying why, when the link never appears.
start_device() {
  local link=$1 log=$2
  shift 2
  rm -f "$link"
  "$DEVICE" --link "$link" "$@" >"$log" 2>&1 &
  DEVICE_PID=$!
  await_link "$link" "$DEVICE_PID" && return 0
  echo "wine-env: the device simulator made no link $link (see $log)" >&2
  return 1
}

# await_link LINK PID: waits up to 5 s for the link that process PID makes;
# fails at once when the process has ended without making it.
await_link() {
  for _ in $(seq 100); do
    [ -L "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.05
  done
  return 1
}

# Starts the key target window logging to $1 (TARGET_PID) and waits until it
# holds the foreground and the keyboard focus. Fails with the reason when it
# never gets them or does not start.
start_target() {
  local log=$1
  rm -f "$log"
  wine "$KEYTARGET" "$(winepath -w "$log" 2>/dev/null)" >/dev/null 2>&1 &
  TARGET_PID=$!
  for _ in $(seq 150); do
    grep -q READY "$log" 2>/dev/null && return 0
    if grep -q NOFOCUS "$log" 2>/dev/null; then
      echo "key target never got the focus: $(tr -d '\r' <"$log" | grep NOFOCUS | cut -d' ' -f2-)" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "key target did not start within 15 s" >&2
  return 1
}

# Whether the key target lost the keyboard focus after it was ready; prints
# the window that took it.
target_lost_focus() {
  tr -d '\r' <"$1" 2>/dev/null | sed -n '/ READY$/,$ s/^[0-9]* LOSTFOCUS \(.*\)$/\1/p' | head -n 1 |
    grep .
}
