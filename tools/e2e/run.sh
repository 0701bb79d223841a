#!/usr/bin/env bash
# End-to-end tests: the real Windows program under Wine, its COM1 on the
# device simulator's pty, keys landing in a real window. Needs the native
# and the full Windows builds, test helpers included (.ci/run makes them).
#
# Each build the machine can run gets a round; each test in a round gets a
# folder of its own for its handshake files, logs and COM1 link, made fresh
# when the test begins, so that nothing one test or round leaves behind can
# satisfy a wait of the next. Each test ends with one verdict:
#   ok       the product did what the test names
#   FAIL     the product did not
#   HARNESS  the test could not be carried out (a device that never linked,
#            a key target that never held the focus or lost it): it says
#            nothing about the product, and fails the run all the same
#
#   tools/e2e/run.sh --list    print the tests' names, in the order they run
#   E2E_ONLY="test_a test_b"   run only these tests
#   E2E_ROUNDS="win64 win64"   the rounds to run (default: every build here)
#   E2E_MIN_ROUNDS=2           repeat the builds' rounds until there are 2
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"

passed=0
failed=0
harness_errors=0
E2E_DIR=$WORK/e2e # the logs of the last run, a folder a round and a test

# ---- Verdicts ---------------------------------------------------------------

on_build() { [ -n "${BUILD:-}" ] && echo "[$(basename "$BUILD")] "; }
show_files() { for f in "$@"; do [ -f "$f" ] && sed 's/^/      | /' "$f" | tail -n 40; done; }

pass() {
  [ -n "$VERDICT" ] && return 0
  VERDICT=ok
  echo "ok       $(on_build)$1"
  passed=$((passed + 1))
}

# flunk WHAT WHY [FILES...]: the product failed, unless the key target had
# lost the focus, in which case the keys went elsewhere and nothing is known.
flunk() {
  [ -n "$VERDICT" ] && return 0
  local who
  if [ -n "${TARGET_LOG:-}" ] && who=$(target_lost_focus "$TARGET_LOG"); then
    harness "$1" "the key target lost the focus to $who" "${@:3}"
    return 0
  fi
  VERDICT=FAIL
  echo "FAIL     $(on_build)$1: $2"
  show_files "${@:3}"
  failed=$((failed + 1))
}

harness() {
  [ -n "$VERDICT" ] && return 0
  VERDICT=HARNESS
  echo "HARNESS  $(on_build)$1: $2"
  show_files "${@:3}"
  harness_errors=$((harness_errors + 1))
}

# ---- One test's folder and processes ---------------------------------------

# A fresh folder T (also RUN, for the logs) for the test, whose COM1 link,
# LINK, lies inside it: Wine's COM1 leads to COM_LINK, which leads to LINK.
begin_test() {
  T=$ROUND_DIR/$1
  RUN=$T
  LINK=$T/com1
  VERDICT=""
  TARGET_LOG=""
  DEVICE_PID="" TARGET_PID="" PROGRAM_SHELL=""
  if [ -e "$T" ]; then
    harness "$1" "its folder $T exists before it begins"
    return 1
  fi
  mkdir -p "$T"
  [ -d "${WINEPREFIX:-}/dosdevices" ] || return 0 # the tests before Wine is up
  ln -sfn "$LINK" "$COM_LINK"
  local n
  for n in 2 3 4 5 6 7 8 9; do ln -sfn "$NO_PORT" "$WINEPREFIX/dosdevices/com$n"; done
}

# Whatever the test left running goes: a program is asked to close first
# (so that it releases any key the device held), then stopped.
end_test() {
  if [ -n "$PROGRAM_SHELL" ] && kill -0 "$PROGRAM_SHELL" 2>/dev/null; then
    timeout 10 wine "$WINCTL" close >/dev/null 2>&1
    for _ in $(seq 50); do kill -0 "$PROGRAM_SHELL" 2>/dev/null || break; sleep 0.1; done
    pkill -P "$PROGRAM_SHELL" 2>/dev/null
  fi
  local pid
  for pid in $DEVICE_PID $TARGET_PID ${TAP_PID:-} $PROGRAM_SHELL; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  TAP_PID=""
  [ -n "$VERDICT" ] || harness "$1" "the test gave no verdict"
}

# await FILE [SECONDS]: a handshake file of this test. Only files in the
# test's own folder can be waited for, so none can be left from before.
await() {
  case $1 in
    "$T"/*) ;;
    *) harness "${FUNCNAME[1]}" "waits for $1, outside its folder"; return 1 ;;
  esac
  await_file "$@" 2>/dev/null || {
    harness "${FUNCNAME[1]}" "gave up waiting for $(basename "$1")"
    return 1
  }
}

# device_on LINK NAME COMMAND...: the device simulator behind LINK, its
# transcript in $RUN/NAME.device. device NAME COMMAND...: the same on COM1.
device_on() {
  local link=$1 name=$2
  shift 2
  start_device "$link" "$RUN/$name.device" "$@" 2>"$RUN/$name.harness" || {
    harness "$name" "$(cat "$RUN/$name.harness")" "$RUN/$name.device"
    return 1
  }
}
device() { device_on "$LINK" "$@"; }
device_result() { wait "$DEVICE_PID"; }
# Why the device script failed: its last complaint.
device_why() { grep '^talliver-device: ' "$1" | tail -n 1 | sed 's/^talliver-device: //'; }

# Starts the program and skips the notice's countdown.
start_polling_program() {
  local name=$1
  shift
  start_program "$RUN/$name.program" "$@"
  PROGRAM_SHELL=$!
  winctl notice-ok >/dev/null
}

# The device scripts touch $T/polling once the program answers and then
# wait for $T/go. By then the program's main window is shown, so a key
# target started now keeps the focus: start it, then let the device go on.
start_test_target() {
  TARGET_LOG=$T/target
  await "$T/polling" || return 1
  start_target "$TARGET_LOG" 2>"$T/target.why" || {
    harness "${FUNCNAME[1]}" "$(cat "$T/target.why")" "$TARGET_LOG"
    return 1
  }
  touch "$T/go"
}

# Key events the target received, as "KEYDOWN vk=41 scan=1E" lines.
# (The target writes its log in text mode: CR LF.)
target_keys() { tr -d '\r' <"$1" | sed -n 's/^[0-9]* \(\(SYS\)\?KEY\(DOWN\|UP\) .*\)$/\1/p'; }

# ---- Tests that share one skeleton ------------------------------------------
#
# scripted NAME TITLE CHECK STEP...: the device runs its steps against the
# program, whose notice is skipped; the device's own checks (expect-flags,
# expect, expect-fcs, expect-no-loss) and the program's exit code 0 decide,
# and CHECK, unless "-", judges what else the test recorded. A CHECK that
# starts with "target:" also gets a key target: the device then waits for it
# before its steps.

scripted() {
  local name=$1 title=$2 check=$3
  shift 3
  local steps=("identify 40000")
  [[ $check == target:* ]] && steps+=("run touch $T/polling" "wait-file $T/go")
  device "$name" "${steps[@]}" "$@" || return
  start_polling_program "$name"
  [[ $check == target:* ]] && { start_test_target || return; }
  local status=0 code why
  device_result || status=$?
  code=$(program_exit "$RUN/$name.program")
  if [ "$status" != 0 ]; then
    flunk "$title" "the device: $(device_why "$RUN/$name.device")" "$RUN/$name.device"
  elif [ "$code" != 0 ]; then
    flunk "$title" "the program exited $code" "$RUN/$name.device"
  elif [ "$check" != - ] && ! why=$("${check#target:}"); then
    flunk "$title" "$why" "$RUN/$name.device" "$TARGET_LOG"
  else
    pass "$title"
  fi
}

# The checks: each prints what differed and fails, or passes silently.
keys_typed() {
  local chars
  chars=$(target_text "$TARGET_LOG")
  [ "$chars" = $'Hi, 42!\rq' ] || { echo "the target received '$chars'"; return 1; }
  target_keys "$TARGET_LOG" | grep -q 'KEYDOWN vk=51 scan=11' &&
    target_keys "$TARGET_LOG" | grep -q 'KEYDOWN vk=13 scan=13' ||
    { echo "the keys 0x51:0x11 and 0x13:0x13 did not arrive as sent"; return 1; }
}

held_keys_released() {
  local last
  last=$(target_keys "$TARGET_LOG" | tail -n 2 | tr '\n' ' ')
  # Alt arrives as a system key while it is held; Ctrl's release comes last.
  [[ "$last" == *"KEYUP vk=12"*"KEYUP vk=11"* ]] || { echo "last key events: $last"; return 1; }
}

every_soak_key_arrived() {
  local sent arrived
  sent=$(awk '$1 == "keystrokes" {print $2}' "$T/counts")
  arrived=$(target_keys "$TARGET_LOG" | grep -c 'KEYDOWN vk=7C')
  [ -n "$sent" ] && [ "$sent" -gt 0 ] && [ "$arrived" = "$sent" ] ||
    { echo "$sent keystrokes sent, $arrived arrived in the window"; return 1; }
}

session_answer_is_1() {
  local answer
  answer=$(tr -d '\r' <"$T/session.answer")
  [ "$answer" = 1 ] || { echo "WM_QUERYENDSESSION answered '$answer'"; return 1; }
}

test_identify_query_caps_lock() {
  scripted query "identify answers 98 02 22; query answers the flags; Caps Lock toggles both ways" - \
    "expect-flags 00" "mods 40" "sleep 600" "expect-flags 40" "mods 00" "sleep 600" \
    "expect-flags 00" "run wine $WINCTL close"
}

test_keys_reach_target() {
  scripted keys "keystrokes reach the focused window, each with its FC; 0x11 and 0x13 pass" \
    target:keys_typed "text Hi, 42!" "key enter" "key 0x51:0x11" "key 0x13:0x13" "listen 300" \
    "expect-fcs 10" "run wine $WINCTL close"
}

# Five keystrokes sent at once are emulated one per 200 ms tick. Only a
# lower bound is checked (the timer cannot run faster); a busy machine can
# only stretch it.
test_one_keystroke_per_tick() {
  scripted tick "one keystroke per tick: 5 FCs over at least 600 ms" - \
    "raw 84 64 7C 84 64 7C 84 64 7C 84 64 7C 84 64 7C" "listen 2500" "expect-fcs 5 600" \
    "run wine $WINCTL close"
}

test_held_keys_released_at_close() {
  scripted held "Alt and Ctrl held by the device are released when the program closes" \
    target:held_keys_released "mods 0C" "sleep 600" "run wine $WINCTL close" "listen 500"
}

test_end_of_session() {
  scripted session "end of session: answers 1 and exits 0" session_answer_is_1 \
    "run wine $WINCTL endsession > $T/session.answer" "listen 300"
}

# Two identical requests in one burst: the second must not undo the first.
test_requests_in_one_burst_stay_absolute() {
  scripted burst "two identical Caps Lock requests in one burst leave it as they say, on and off" - \
    "raw 88 00 40 88 00 40" "sleep 600" "expect-flags 40" "raw 88 00 00 88 00 00" "sleep 600" \
    "expect-flags 00" "run wine $WINCTL close"
}

# Thirty seconds of mixed traffic into a focused window: nothing lost.
test_short_soak() {
  scripted soak "30 s soak: every keystroke's FC back and every key in the window" \
    target:every_soak_key_arrived "soak 30" "expect-no-loss" "save-counts $T/counts" \
    "listen 300" "run wine $WINCTL close"
}

# ---- Tests of their own shape -----------------------------------------------

test_monitor_echo_and_restore_guard() {
  local t=monitor title="key monitor echoes emulated keys; restore refused without Shift, allowed with it"
  # Right after start-up the minimised main window is active, so the keys the
  # program emulates reach its key monitor and go back out of the port.
  device $t "identify 40000" "run touch $T/polling" "key a" "expect 84 1E 41" \
    "wait-file $T/plain" "mods 03" "sleep 600" "run wine $WINCTL restore > $T/shift" "mods 00" \
    "listen 400" "run wine $WINCTL close" || return
  start_polling_program $t
  # The answer appears under its name only once it is whole: a redirection
  # would make the file, and let the device go on to hold Shift, before the
  # restore without Shift had been asked for.
  await "$T/polling" && winctl restore >"$T/plain.part" && mv "$T/plain.part" "$T/plain"
  local status=0 plain shifted
  device_result || status=$?
  program_exit "$RUN/$t.program" >/dev/null
  plain=$(cat "$T/plain" 2>/dev/null)
  shifted=$(tr -d '\r' <"$T/shift" 2>/dev/null)
  if [ "$status" != 0 ]; then
    flunk "$title" "the device: $(device_why "$RUN/$t.device")" "$RUN/$t.device"
  elif [ "$plain" = iconic ] && [ "$shifted" = restored ]; then
    pass "$title"
  else
    flunk "$title" "restore without Shift: '$plain', with Shift: '$shifted'" "$RUN/$t.device"
  fi
}

# A device streaming queries at line rate must not keep the program from its
# other messages: a sent message is taken within about a tick, and a close
# request takes effect. Measured: a few ms, and 2 s to close (Wine's own
# time to destroy a minimised window without a window manager, the same
# when idle); the bounds are far from both so that a busy machine cannot
# make it flake, and far below the 15 s the flood lasts.
test_flood_does_not_hold_off_close() {
  local t=flood ping closed answered ms code
  device $t "identify 40000" "run touch $T/polling" "flood 15000 CC" || return
  start_polling_program $t
  await "$T/polling" || return
  sleep 4
  ping=$(winctl ping)
  closed=$(winctl time-close)
  code=$(program_exit "$RUN/$t.program")
  device_result
  answered=$(echo "$ping" | sed -n 's/^answered in \([0-9]*\) ms$/\1/p')
  ms=$(echo "$closed" | sed -n 's/^closed in \([0-9]*\) ms$/\1/p')
  if [ "$code" = 0 ] && [ -n "$answered" ] && [ "$answered" -lt 2000 ] && [ -n "$ms" ] &&
    [ "$ms" -lt 6000 ]; then
    pass "queries streamed at line rate: a sent message taken in ${answered} ms, closed in ${ms} ms"
  else
    flunk "close during a flood" "'$ping', '$closed', exit $code" "$RUN/$t.device"
  fi
}

# The device goes away (its pty closes, as an unplugged adapter's port fails)
# and a new one appears behind the same COM port: the program reopens it.
test_unplugged_device_comes_back() {
  local t=replug code title="a new device behind the same port is answered after the old one went"
  device $t "identify 40000" "listen 300" || return
  start_polling_program $t
  device_result
  sleep 1
  device $t.again "identify 10000" "run wine $WINCTL close" || return
  local status=0
  device_result || status=$?
  code=$(program_exit "$RUN/$t.program")
  if [ "$status" = 0 ] && [ "$code" = 0 ]; then
    pass "$title"
  else
    flunk "$title" "the new device: $(device_why "$RUN/$t.again.device"), exit $code" \
      "$RUN/$t.again.device"
  fi
}

test_notice_names_requested_port() {
  local t=notice title
  # COM9 on the pty, asked for by a command tail; the notice counts down alone.
  ln -sfn "$COM_LINK" "$WINEPREFIX/dosdevices/com9"
  device $t "identify 40000" "run wine $WINCTL close" || return
  start_program "$RUN/$t.program" port9
  PROGRAM_SHELL=$!
  sleep 3
  winctl notice-text >"$T/notice.text"
  device_result
  local code first countdown
  code=$(program_exit "$RUN/$t.program")
  first=$(head -n 1 "$T/notice.text")
  countdown=$(tail -n 1 "$T/notice.text")
  title="command tail port9 picks COM9; the notice names it and counts down ($countdown)"
  if [ "$first" = "Connect VANTOLE to serial port COM9." ] && [[ "$countdown" =~ ^\[0:0[0-9]\]$ ]] &&
    [ "$code" = 0 ]; then
    pass "$title"
  else
    flunk "notice names the requested port" "'$first' $countdown exit $code" "$T/notice.text"
  fi
}

test_digits_in_path_do_not_pick_a_port() {
  local t=path dir="$T/copy 9"
  # COM9 opens but cannot be set up: picking it from the path would exit 3.
  mkdir -p "$dir" && cp "$PROGRAM" "$dir/qelmo.exe"
  ln -sfn /dev/null "$WINEPREFIX/dosdevices/com9"
  device $t "identify 40000" "run wine $WINCTL close" || return
  PROGRAM="$dir/qelmo.exe" start_polling_program $t
  device_result
  local code
  code=$(program_exit "$RUN/$t.program")
  if [ "$code" = 0 ]; then
    pass "a digit in the program's path does not pick a port"
  else
    flunk "digit in the program's path" "exit $code" "$RUN/$t.device"
  fi
}

# No free port: COM1 leads to a directory, which cannot be opened.
test_no_free_port() {
  ln -sfn "$NO_PORT" "$LINK"
  start_program "$T/noport.program"
  PROGRAM_SHELL=$!
  local text code
  text=$(winctl msgbox)
  code=$(program_exit "$T/noport.program")
  if [ "$code" = 4 ] && [ "$text" = "No COM port available to talk to VANTOLE!" ]; then
    pass "no free port: one message box, exit code 4"
  else
    flunk "no free port" "exit $code, box '$text'"
  fi
}

# COM1 opens but cannot be configured: exit 3 and no message box.
test_port_cannot_be_set_up() {
  ln -sfn /dev/null "$LINK"
  start_program "$T/badport.program"
  PROGRAM_SHELL=$!
  local code
  code=$(program_exit "$T/badport.program")
  if [ "$code" = 3 ]; then
    pass "port that cannot be configured: exit code 3"
  else
    flunk "port that cannot be configured" "exit $code"
  fi
}

source "$(dirname "${BASH_SOURCE[0]}")/device_tools.sh"

# ---- Running them ---------------------------------------------------------

# Every test of a build's round, in order.
TESTS=(test_no_free_port test_port_cannot_be_set_up test_identify_query_caps_lock
  test_keys_reach_target test_one_keystroke_per_tick test_monitor_echo_and_restore_guard
  test_held_keys_released_at_close test_end_of_session test_notice_names_requested_port
  test_digits_in_path_do_not_pick_a_port test_requests_in_one_burst_stay_absolute
  test_unplugged_device_comes_back test_flood_does_not_hold_off_close test_short_soak
  "${DEVICE_TOOL_TESTS[@]}")

# run_round FOLDER TEST...: each test named, unless E2E_ONLY names others,
# in its own folder below FOLDER; a name with no function behind it fails.
run_round() {
  ROUND_DIR=$E2E_DIR/$1
  shift
  mkdir -p "$ROUND_DIR"
  local test
  for test in "$@"; do
    [ -z "${E2E_ONLY:-}" ] || [[ " $E2E_ONLY " == *" $test "* ]] || continue
    begin_test "$test" || continue
    if declare -F "$test" >/dev/null; then
      "$test"
    else
      flunk "$test" "no such test"
    fi
    end_test "$test"
  done
}

# The rounds: E2E_ROUNDS, else each build this machine runs, repeated until
# there are E2E_MIN_ROUNDS of them. A build asked for that cannot run here
# is an error, not a silent skip.
choose_rounds() {
  ROUNDS=${E2E_ROUNDS:-$WINE_BUILDS}
  local build
  for build in $ROUNDS; do
    if [[ " $WINE_BUILDS " != *" $build "* ]]; then
      echo "run.sh: cannot run a $build round here: ${WINE32_WHY_NOT:-no such build}" >&2
      return 1
    fi
  done
  if [ -z "${E2E_ROUNDS:-}" ]; then
    while [ "$(echo "$ROUNDS" | wc -w)" -lt "${E2E_MIN_ROUNDS:-1}" ]; do
      ROUNDS="$ROUNDS $WINE_BUILDS"
    done
  fi
}

summary() {
  echo "$passed passed, $failed failed, $harness_errors harness errors"
  [ "$failed" = 0 ] && [ "$harness_errors" = 0 ]
}

main() {
  if [ "${1:-}" = --list ]; then
    printf '%s\n' "${TESTS[@]}"
    return 0
  elif [ $# -gt 0 ]; then
    echo "run.sh: unknown argument '$1'; the options are --list and the E2E_ variables" >&2
    return 2
  fi
  rm -rf "$E2E_DIR" && mkdir -p "$E2E_DIR"
  if ! wine_up || ! choose_rounds; then
    harness_errors=$((harness_errors + 1))
    summary
    exit 1
  fi
  local build n=0 ran=""
  for build in $ROUNDS; do
    n=$((n + 1))
    use_build "$build"
    echo "== round $n: end-to-end tests on $build ($PROGRAM)"
    run_round "round$n-$build" "${TESTS[@]}"
    ran="$ran round $n $build,"
  done
  BUILD=""
  wine_down
  echo "end-to-end rounds:${ran%,}"
  if [ -n "$WINE32_WHY_NOT" ]; then
    echo "not run on win32 (the i686 release): $WINE32_WHY_NOT"
  fi
  summary
}

main "$@"
