# Sourced by run.sh: end-to-end tests of the device builders' tools, the tap
# and the conformance run.

DEVICE_PORT=$WORK/device-port # the simulated device's pty, the tap's "real" port

# The tap between the device's port and the program's COM port.
start_tap() { # NAME
  rm -f "$COM_LINK"
  "$DEVICE" tap --port "$DEVICE_PORT" --link "$COM_LINK" --log "$RUN/$1.tap" >/dev/null 2>&1 &
  TAP_PID=$!
  for _ in $(seq 50); do [ -e "$COM_LINK" ] && return 0; sleep 0.1; done
}
stop_tap() { kill "$TAP_PID" 2>/dev/null && wait "$TAP_PID" 2>/dev/null; }

# What the program said, without the times: "98 02 22  identity 2, 34".
program_side() { awk '$2 == "<-" {$1 = ""; print}' "$1"; }

# The same script straight into the program and through the tap: the
# program's side is the same, and the tap has nothing to warn about.
test_tap_is_transparent() {
  local t=tap script=("identify 40000" "query" "mods 40" "sleep 600" "expect-flags 40" "mods 00"
    "sleep 600" "key a" "text Hi" "listen 600" "run wine $WINCTL close")
  device $t.direct "${script[@]}"
  start_polling_program $t.direct
  device_result
  program_exit "$RUN/$t.direct.program" >/dev/null

  device_on "$DEVICE_PORT" $t.tapped "${script[@]}"
  start_tap $t
  start_polling_program $t.tapped
  local status=0
  device_result || status=$?
  program_exit "$RUN/$t.tapped.program" >/dev/null
  stop_tap
  if [ "$status" = 0 ] && [ -n "$(program_side "$RUN/$t.direct.device")" ] &&
    diff <(program_side "$RUN/$t.direct.device") <(program_side "$RUN/$t.tapped.device") >"$RUN/$t.diff" &&
    ! grep -q ' !! .* warning ' "$RUN/$t.tap" &&
    [ "$(program_side "$RUN/$t.tap")" = "$(program_side "$RUN/$t.direct.device")" ]; then
    pass "through the tap the program answers as without it, and the tap prints the same"
  else
    flunk "tap is transparent" "device exit $status; differences:" "$RUN/$t.diff" "$RUN/$t.tap"
  fi
}

# One device after another behind the tap, each breaking one rule: each
# raises exactly its warning. (No FC within two ticks is the program's
# timing, not a rule these scripts break, so it is not counted.)
test_tap_warns_on_each_broken_rule() {
  local t=rules i
  local scripts=("raw 04 1E 41" "raw 84 9E 41" "raw 84 1E|sleep 300|raw 41" "raw 80 00 00"
    "raw C4" "raw 84 1E 41 84 30 42")
  local expected=(header-bit7 data-bit7 slow-message ignored-command one-byte-data key-before-fc)
  device_on "$DEVICE_PORT" $t.0 "identify 40000" "listen 300"
  start_tap $t
  start_polling_program $t
  device_result
  for i in "${!scripts[@]}"; do
    IFS='|' read -r -a steps <<<"${scripts[$i]}"
    device_on "$DEVICE_PORT" "$t.$((i + 1))" "sleep 800" "${steps[@]}" "listen 800"
    device_result
  done
  device_on "$DEVICE_PORT" $t.end "sleep 800" "run wine $WINCTL close"
  device_result
  program_exit "$RUN/$t.program" >/dev/null
  stop_tap
  # The warnings between one device's arrival and the next's.
  local got
  got=$(awk '/device port open/ {n++} $2 == "!!" && $4 != "no-fc:" {sub(":", "", $4); w[n] = w[n] " " $4}
    END {for (i = 2; i <= n - 1; i++) printf "%s;", w[i]}' "$RUN/$t.tap")
  local want
  want=$(printf ' %s;' "${expected[@]}")
  if [ "$got" = "$want" ]; then
    pass "the tap raises exactly the broken rule's warning, for each of ${#expected[@]} rules"
  else
    flunk "tap warnings" "got '$got', want '$want'" "$RUN/$t.tap"
  fi
}

# The program closes its port and a new one opens it: the tap goes on.
test_tap_survives_a_program_restart() {
  local t=restart first second
  device_on "$DEVICE_PORT" $t "identify 40000" "listen 300" "run wine $WINCTL close" \
    "sleep 3000" "identify 20000" "run wine $WINCTL close"
  start_tap $t
  start_polling_program $t.first
  first=$(program_exit "$RUN/$t.first.program")
  start_polling_program $t.second
  local status=0
  device_result || status=$?
  second=$(program_exit "$RUN/$t.second.program")
  stop_tap
  if [ "$status" = 0 ] && [ "$first" = 0 ] && [ "$second" = 0 ]; then
    pass "the tap goes on when the program closes its port and another run opens it"
  else
    flunk "tap across a program restart" "device $status, exits $first and $second" \
      "$RUN/$t.device" "$RUN/$t.tap"
  fi
}

# The conformance run needs no program: it plays the program's side.
test_conform_passes_the_simulator() {
  local t=conform-pass port=$WORK/conform-port
  device_on "$port" $t "soak 13"
  "$DEVICE" conform --port "$port" --seconds 12 >"$RUN/$t.log" 2>&1
  device_result
  if [ "$(tail -n 1 "$RUN/$t.log")" = "7 passed, 0 failed" ] && [ "$(grep -c '^PASS' "$RUN/$t.log")" = 7 ]; then
    pass "conformance run against the simulator: every rule passes"
  else
    flunk "conformance run, simulator" "$(tail -n 1 "$RUN/$t.log")" "$RUN/$t.log"
  fi
}

test_conform_fails_a_rule_breaker() {
  local t=conform-fail port=$WORK/conform-port
  device_on "$port" $t "sleep 500" "raw 04 1E 41" "sleep 500" "raw 84 9E 41" "sleep 500" \
    "raw 84 1E" "sleep 300" "raw 41" "sleep 500" "raw 84 1E 41 84 30 42" "sleep 500" \
    "raw 80 00 00" "listen 6000"
  "$DEVICE" conform --port "$port" --seconds 8 >"$RUN/$t.log" 2>&1
  local code=$?
  device_result
  local failed
  failed=$(sed -n 's/^FAIL  \([a-z0-9-]*\):.*/\1/p' "$RUN/$t.log" | tr '\n' ' ')
  if [ "$code" = 1 ] && [ "$failed" = "forms header-bit7 data-bit7 gaps waits-for-fc " ]; then
    pass "conformance run against a rule breaker fails on exactly its rules: $failed"
  else
    flunk "conformance run, rule breaker" "exit $code, failed: $failed" "$RUN/$t.log"
  fi
}


# Tests that run on each build, beside the program's own; tests that need no
# program and run once.
DEVICE_TOOL_TESTS=(test_tap_is_transparent test_tap_warns_on_each_broken_rule
  test_tap_survives_a_program_restart)
DEVICE_TOOL_ONCE=(test_conform_passes_the_simulator test_conform_fails_a_rule_breaker)
