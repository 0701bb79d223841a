#!/usr/bin/env bash
# End-to-end tests: the real Windows program under Wine, its COM1 on the
# device simulator's pty, keys landing in a real window. Needs the native
# and Windows builds (.ci/run makes them). Prints one line per test and a
# closing "N passed, N failed".
set -uo pipefail
source "$(dirname "$0")/wine-env.sh"

passed=0
failed=0
RUN=$WORK/e2e
rm -rf "$RUN" && mkdir -p "$RUN"

# Results name the build they ran on, once one is chosen.
on_build() { [ -n "${BUILD:-}" ] && echo "[$(basename "$BUILD")] "; }
pass() { echo "ok    $(on_build)$1"; passed=$((passed + 1)); }
flunk() {
  echo "FAIL  $(on_build)$1: $2"
  for f in "${@:3}"; do [ -f "$f" ] && sed 's/^/      | /' "$f" | tail -n 40; done
  failed=$((failed + 1))
}

# device_on LINK NAME COMMAND...: the device simulator in the background, on
# a fresh pty behind LINK, logging to $RUN/NAME.device. The old link goes
# first, so that one left from an earlier device cannot pass for the new.
device_on() {
  local link=$1 name=$2
  shift 2
  rm -f "$link"
  "$DEVICE" --link "$link" "$@" >"$RUN/$name.device" 2>&1 &
  DEVICE_PID=$!
  for _ in $(seq 50); do [ -e "$link" ] && return 0; sleep 0.1; done
}

# device NAME COMMAND...: the same behind the program's COM1.
device() { device_on "$COM_LINK" "$@"; }

device_result() {
  wait "$DEVICE_PID"
}

# Starts the program and skips the notice's countdown.
start_polling_program() {
  local name=$1
  shift
  start_program "$RUN/$name.program" "$@"
  winctl notice-ok >/dev/null
}

# Key events the target received, as "KEYDOWN vk=41 scan=1E" lines.
# (The target writes its log in text mode: CR LF.)
target_keys() { tr -d '\r' <"$1" | sed -n 's/^[0-9]* \(\(SYS\)\?KEY\(DOWN\|UP\) .*\)$/\1/p'; }

test_keys_reach_target() {
  local t=keys target=$RUN/keys.target
  device $t "identify 40000" "run touch $RUN/$t.polling" "wait-file $RUN/$t.go" "text Hi, 42!" "key enter" \
    "key 0x51:0x11" "key 0x13:0x13" "listen 300" "run wine $WINCTL close"
  start_polling_program $t
  target_when_polling "$RUN/$t" "$target"
  device_result || { flunk "keystrokes reach the focused window" "device failed" "$RUN/$t.device"; return; }
  local code chars fcs
  code=$(program_exit "$RUN/$t.program")
  chars=$(target_text "$target")
  fcs=$(grep -c '<- FC ' "$RUN/$t.device")
  if [ "$chars" = $'Hi, 42!\rq' ] && [ "$fcs" = 10 ] && [ "$code" = 0 ] &&
    target_keys "$target" | grep -q 'KEYDOWN vk=51 scan=11' &&
    target_keys "$target" | grep -q 'KEYDOWN vk=13 scan=13'; then
    pass "keystrokes reach the focused window, each with its FC; 0x11 and 0x13 pass"
  else
    flunk "keystrokes reach the focused window" "chars '$chars', $fcs FCs, exit $code" \
      "$RUN/$t.device" "$target"
  fi
}

test_identify_query_caps_lock() {
  local t=query
  device $t "identify 40000" "expect-flags 00" "mods 40" "sleep 600" "expect-flags 40" \
    "mods 00" "sleep 600" "expect-flags 00" "run wine $WINCTL close"
  start_polling_program $t
  if device_result && grep -q '<- 98 02 22  identity 2, 34' "$RUN/$t.device"; then
    pass "identify answers 98 02 22; query answers the flags; Caps Lock toggles both ways"
  else
    flunk "identify, query and Caps Lock" "see device log" "$RUN/$t.device"
  fi
}

test_one_keystroke_per_tick() {
  local t=tick
  # Five keystrokes sent at once are emulated one per 200 ms tick. Only a
  # lower bound is checked (the timer cannot run faster); a busy machine
  # can only stretch it.
  device $t "identify 40000" "raw 84 64 7C 84 64 7C 84 64 7C 84 64 7C 84 64 7C" "listen 2500" \
    "run wine $WINCTL close"
  start_polling_program $t
  device_result
  local times span
  times=$(awk '$2 == "<-" && $3 == "FC" {print $1}' "$RUN/$t.device")
  span=$(echo "$times" | awk 'NR==1 {first=$1} {last=$1} END {printf "%d", last-first}')
  if [ "$(echo "$times" | grep -c .)" = 5 ] && [ "$span" -ge 600 ]; then
    pass "one keystroke per tick: 5 FCs over ${span} ms"
  else
    flunk "one keystroke per tick" "FCs at: $(echo $times)" "$RUN/$t.device"
  fi
}

test_monitor_echo_and_restore_guard() {
  local t=monitor
  # Right after start-up the minimised main window is active, so the keys the
  # program emulates reach its key monitor and go back out of the port.
  device $t "identify 40000" "run touch $RUN/$t.polling" "key a" "listen 400" \
    "wait-file $RUN/monitor.plain" \
    "mods 03" "sleep 600" "run wine $WINCTL restore > $RUN/monitor.shift" "mods 00" \
    "listen 400" "run wine $WINCTL close"
  start_polling_program $t
  await_file "$RUN/$t.polling" && winctl restore >"$RUN/monitor.plain"
  device_result
  local plain shifted
  plain=$(cat "$RUN/monitor.plain")
  shifted=$(tr -d '\r' <"$RUN/monitor.shift" 2>/dev/null)
  if grep -q '<- 84 1E 41  key stroke' "$RUN/$t.device" && [ "$plain" = iconic ] &&
    [ "$shifted" = restored ]; then
    pass "key monitor echoes emulated keys; restore refused without Shift, allowed with it"
  else
    flunk "key monitor and restore guard" "restore: '$plain' then '$shifted'" "$RUN/$t.device"
  fi
}

test_held_keys_released_at_close() {
  local t=held target=$RUN/held.target
  device $t "identify 40000" "run touch $RUN/$t.polling" "wait-file $RUN/$t.go" "mods 0C" "sleep 600" \
    "run wine $WINCTL close" "listen 500"
  start_polling_program $t
  target_when_polling "$RUN/$t" "$target"
  device_result
  local code last
  code=$(program_exit "$RUN/$t.program")
  last=$(target_keys "$target" | tail -n 2 | tr '\n' ' ')
  # Alt arrives as a system key while it is held; Ctrl's release comes last.
  if [ "$code" = 0 ] && [[ "$last" == *"KEYUP vk=12"*"KEYUP vk=11"* ]]; then
    pass "Alt and Ctrl held by the device are released when the program closes"
  else
    flunk "held keys released at close" "exit $code, last events: $last" "$target"
  fi
}

test_end_of_session() {
  local t=session
  device $t "identify 40000" "run wine $WINCTL endsession > $RUN/session.answer" "listen 300"
  start_polling_program $t
  device_result
  local code answer
  code=$(program_exit "$RUN/$t.program")
  answer=$(tr -d '\r' <"$RUN/session.answer")
  if [ "$code" = 0 ] && [ "$answer" = 1 ]; then
    pass "end of session: answers 1 and exits 0"
  else
    flunk "end of session" "answer '$answer', exit $code" "$RUN/$t.device"
  fi
}

test_requests_in_one_burst_stay_absolute() {
  local t=burst
  # Two identical requests in one burst: the second must not undo the first.
  device $t "identify 40000" "raw 88 00 40 88 00 40" "sleep 600" "expect-flags 40" \
    "raw 88 00 00 88 00 00" "sleep 600" "expect-flags 00" "run wine $WINCTL close"
  start_polling_program $t
  if device_result; then
    pass "two identical Caps Lock requests in one burst leave it as they say, on and off"
  else
    flunk "requests in one burst" "see device log" "$RUN/$t.device"
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
  device $t "identify 40000" "run touch $RUN/$t.polling" "flood 15000 CC"
  start_polling_program $t
  await_file "$RUN/$t.polling"
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

# Thirty seconds of mixed traffic into a focused window: nothing lost.
test_short_soak() {
  local t=soak target=$RUN/soak.target
  device $t "identify 40000" "run touch $RUN/$t.polling" "wait-file $RUN/$t.go" "soak 30" \
    "listen 300" "run wine $WINCTL close"
  start_polling_program $t
  target_when_polling "$RUN/$t" "$target"
  device_result
  local code summary keys arrived
  code=$(program_exit "$RUN/$t.program")
  summary=$(grep '^soak:' "$RUN/$t.device")
  keys=$(echo "$summary" | sed -n 's/.* \([0-9]*\) keystrokes.*/\1/p')
  arrived=$(target_keys "$target" | grep -c 'KEYDOWN vk=7C')
  if [[ "$summary" == *", 0 lost;"* ]] && [ "$arrived" = "$keys" ] && [ "$code" = 0 ]; then
    pass "30 s soak: $keys keystrokes, every FC back and every key in the window"
  else
    flunk "short soak" "'$summary'; $arrived keys arrived; exit $code" "$RUN/$t.device"
  fi
}

# The device goes away (its pty closes, as an unplugged adapter's port fails)
# and a new one appears behind the same COM port: the program reopens it.
test_unplugged_device_comes_back() {
  local t=replug code
  device $t "identify 40000" "listen 300"
  start_polling_program $t
  device_result
  sleep 1
  device $t.again "identify 10000" "run wine $WINCTL close"
  if device_result; then
    code=$(program_exit "$RUN/$t.program")
    [ "$code" = 0 ] && pass "a new device behind the same port is answered after the old one went" &&
      return
  else
    winctl close >/dev/null # not left running to read the next test's bytes
    code=$(program_exit "$RUN/$t.program")
  fi
  flunk "device unplugged and back" "no identity from the new device, exit $code" \
    "$RUN/$t.again.device"
}

test_notice_names_requested_port() {
  local t=notice
  # COM9 on the pty, asked for by a command tail; the notice counts down alone.
  ln -sfn "$COM_LINK" "$WINEPREFIX/dosdevices/com9"
  device $t "identify 40000" "run wine $WINCTL close"
  start_program "$RUN/$t.program" port9
  sleep 3
  winctl notice-text >"$RUN/notice.text"
  device_result
  ln -sfn "$NO_PORT" "$WINEPREFIX/dosdevices/com9"
  local code first countdown
  code=$(program_exit "$RUN/$t.program")
  first=$(head -n 1 "$RUN/notice.text")
  countdown=$(tail -n 1 "$RUN/notice.text")
  if [ "$first" = "Connect VANTOLE to serial port COM9." ] && [[ "$countdown" =~ ^\[0:0[0-9]\]$ ]] &&
    [ "$code" = 0 ]; then
    pass "command tail port9 picks COM9; the notice names it and counts down ($countdown)"
  else
    flunk "notice names the requested port" "'$first' $countdown exit $code" "$RUN/notice.text"
  fi
}

test_digits_in_path_do_not_pick_a_port() {
  local t=path dir="$WORK/copy 9"
  # COM9 opens but cannot be set up: picking it from the path would exit 3.
  mkdir -p "$dir" && cp "$PROGRAM" "$dir/qelmo.exe"
  ln -sfn /dev/null "$WINEPREFIX/dosdevices/com9"
  device $t "identify 40000" "run wine $WINCTL close"
  PROGRAM="$dir/qelmo.exe" start_polling_program $t
  device_result
  local code
  code=$(program_exit "$RUN/$t.program")
  ln -sfn "$NO_PORT" "$WINEPREFIX/dosdevices/com9"
  if [ "$code" = 0 ]; then
    pass "a digit in the program's path does not pick a port"
  else
    flunk "digit in the program's path" "exit $code" "$RUN/$t.device"
  fi
}

test_start_up_failures() {
  # No free port: COM1 leads to a directory, which cannot be opened.
  ln -sfn "$NO_PORT" "$COM_LINK"
  start_program "$RUN/noport.program"
  local text code
  text=$(winctl msgbox)
  code=$(program_exit "$RUN/noport.program")
  if [ "$code" = 4 ] && [ "$text" = "No COM port available to talk to VANTOLE!" ]; then
    pass "no free port: one message box, exit code 4"
  else
    flunk "no free port" "exit $code, box '$text'"
  fi

  # COM1 opens but cannot be configured: exit 3 and no message box.
  ln -sfn /dev/null "$COM_LINK"
  start_program "$RUN/badport.program"
  code=$(program_exit "$RUN/badport.program")
  if [ "$code" = 3 ]; then
    pass "port that cannot be configured: exit code 3"
  else
    flunk "port that cannot be configured" "exit $code"
  fi
  rm -f "$COM_LINK"
}

# The release is the 32-bit executable: static, stripped, importing only the
# system's own DLLs, declaring a subsystem version Windows 95 and NT 4 run,
# and carrying a manifest that runs it as invoker on every Windows since Vista.
test_release_artifacts() {
  local exe imports subsystem size manifest os
  for exe in "$E2E_ROOT/build/win32/qelmo.exe" "$E2E_ROOT/build/win64/qelmo.exe"; do
    imports=$(objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
    subsystem=$(objdump -p "$exe" | awk '/MajorSubsystemVersion/ {a=$2} /MinorSubsystemVersion/ {b=$2} END {print a "." b}')
    if [ "$imports" = "GDI32.DLL KERNEL32.DLL MSVCRT.DLL USER32.DLL " ] && [ "$subsystem" = 4.0 ] &&
      ! objdump -h "$exe" | grep -q '\.debug'; then
      pass "$(basename "$(dirname "$exe")") executable: imports $imports, subsystem $subsystem, stripped"
    else
      flunk "$exe" "imports '$imports', subsystem $subsystem"
    fi
    # Resource type 24 (RT_MANIFEST), id 1: the manifest Windows reads at process creation.
    manifest=$(wrestool -x --raw --type=24 --name=1 "$exe" 2>/dev/null | tr -d '\n')
    os=0
    for id in e2011457-1546-43c5-a5fe-008deee3d3f0 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
      4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
      8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
      [[ "$manifest" == *"<supportedOS Id=\"{$id}\"/>"* ]] && os=$((os + 1))
    done
    if [[ "$manifest" == *'<requestedExecutionLevel level="asInvoker" uiAccess="false"/>'* ]] &&
      [ "$os" = 5 ]; then
      pass "$(basename "$(dirname "$exe")") manifest: as invoker, supported OS Vista to 10/11"
    else
      flunk "$exe manifest" "execution level or supported OS missing ($os of 5 OS ids)"
    fi
  done
  size=$(stat -c %s "$E2E_ROOT/build/win32/qelmo.exe")
  if [ "$size" -le $((24 * 1024)) ]; then
    pass "32-bit release is $size bytes (budget 24576)"
  else
    flunk "32-bit release size" "$size bytes, over the 24576-byte budget"
  fi
}

source "$(dirname "${BASH_SOURCE[0]}")/device_tools.sh"

# Every test, in order; E2E_ONLY="test_a test_b" runs a few of them.
TESTS=(test_start_up_failures test_identify_query_caps_lock test_keys_reach_target
  test_one_keystroke_per_tick test_monitor_echo_and_restore_guard
  test_held_keys_released_at_close test_end_of_session test_notice_names_requested_port
  test_digits_in_path_do_not_pick_a_port test_requests_in_one_burst_stay_absolute
  test_unplugged_device_comes_back test_flood_does_not_hold_off_close test_short_soak
  "${DEVICE_TOOL_TESTS[@]}")
# The device tools' own tests that need no program run once.
ONCE=("${DEVICE_TOOL_ONCE[@]}")

# Runs the tests named, unless E2E_ONLY names others; a name with no
# function behind it fails.
run_tests() {
  local test
  for test in "$@"; do
    [ -z "${E2E_ONLY:-}" ] || [[ " $E2E_ONLY " == *" $test "* ]] || continue
    if declare -F "$test" >/dev/null; then "$test"; else flunk "$test" "no such test"; fi
  done
}

main() {
  test_release_artifacts
  wine_up || { echo "0 passed, 1 failed"; exit 1; }
  local build
  for build in $WINE_BUILDS; do
    use_build "$build"
    echo "== end-to-end tests on $build ($PROGRAM)"
    run_tests "${TESTS[@]}"
  done
  BUILD=""
  echo "== the device tools"
  run_tests "${ONCE[@]}"
  wine_down
  echo "end-to-end tests ran on: $WINE_BUILDS"
  [ -n "$WINE32_WHY_NOT" ] && echo "not run on win32 (the i686 release): $WINE32_WHY_NOT"
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}

main
