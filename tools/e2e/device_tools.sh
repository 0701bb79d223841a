# Sourced by run.sh: end-to-end tests of the device builders' tools, the tap
# and the conformance run, and of grading their records again.

DEVICE_PORT=$WORK/device-port # the simulated device's pty, the tap's "real" port

# The tap between the device's port and the program's COM port.
start_tap() { # NAME [OPTION...]
  local name=$1
  shift
  rm -f "$COM_LINK"
  "$DEVICE" tap --port "$DEVICE_PORT" --link "$COM_LINK" --log "$RUN/$name.tap" "$@" >/dev/null 2>&1 &
  TAP_PID=$!
  for _ in $(seq 50); do [ -e "$COM_LINK" ] && return 0; sleep 0.1; done
}
stop_tap() { kill "$TAP_PID" 2>/dev/null && wait "$TAP_PID" 2>/dev/null; }

# The tap drops what the device sends before a program holds the port, as a
# closed COM port does: a device behind it waits for FILE, which a test
# touches once the program is up (its notice shows only after the port is
# open).
program_holds_port() { touch "$1"; }

# What the program said, without the times: "98 02 22  identity 2, 34".
program_side() { awk '$2 == "<-" {$1 = ""; print}' "$1"; }

# The warnings a transcript shows: "!!" lines from the first port event on.
warning_lines() { sed -n '/device port open/,$p' "$1" | grep ' !! '; }

# The same script straight into the program and through the tap: the
# program's side is the same, and the tap has nothing to warn about.
test_tap_is_transparent() {
  local t=tap script=("identify 40000" "query" "mods 40" "sleep 600" "expect-flags 40" "mods 00"
    "sleep 600" "key a" "text Hi" "listen 600" "run wine $WINCTL close")
  device $t.direct "${script[@]}"
  start_polling_program $t.direct
  device_result
  program_exit "$RUN/$t.direct.program" >/dev/null

  device_on "$DEVICE_PORT" $t.tapped "wait-file $RUN/$t.held" "${script[@]}"
  start_tap $t
  start_polling_program $t.tapped
  program_holds_port "$RUN/$t.held"
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
# timing, not a rule these scripts break, so it is not counted.) The tap's
# record, graded again afterwards, gives the same warnings.
test_tap_warns_on_each_broken_rule() {
  local t=rules i
  local scripts=("raw 04 1E 41" "raw 84 9E 41" "raw 84 1E|sleep 300|raw 41" "raw 80 00 00"
    "raw C4" "raw 84 1E 41 84 30 42")
  local expected=(header-bit7 data-bit7 incomplete ignored-command one-byte-data key-before-fc)
  device_on "$DEVICE_PORT" $t.0 "wait-file $RUN/$t.held" "identify 40000" "listen 300"
  start_tap $t --record "$RUN/$t.jsonl"
  start_polling_program $t
  program_holds_port "$RUN/$t.held"
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

  local code=0 live again
  "$DEVICE" grade "$RUN/$t.jsonl" >"$RUN/$t.graded" 2>&1 || code=$?
  live=$(warning_lines "$RUN/$t.tap" | wc -l)
  if [ "$code" = 1 ] && [ "$live" -ge "${#expected[@]}" ] &&
    diff <(warning_lines "$RUN/$t.tap") <(warning_lines "$RUN/$t.graded") >"$RUN/$t.grade-diff" &&
    diff <(grep '^tap: warnings:' "$RUN/$t.tap") <(grep '^tap: warnings:' "$RUN/$t.graded") >>"$RUN/$t.grade-diff"; then
    pass "the tap's record, graded offline, gives the same $live warnings and summary as live"
  else
    flunk "record graded offline" "grade exit $code; differences:" "$RUN/$t.grade-diff" "$RUN/$t.graded"
  fi
}

# The program closes its port and a new one opens it: the tap goes on, and
# its rules start over.
test_tap_survives_a_program_restart() {
  local t=restart first second
  device_on "$DEVICE_PORT" $t "wait-file $RUN/$t.held" "identify 40000" "listen 300" \
    "run wine $WINCTL close" "wait-file $RUN/$t.held-again" "identify 20000" "run wine $WINCTL close"
  start_tap $t
  start_polling_program $t.first
  program_holds_port "$RUN/$t.held"
  first=$(program_exit "$RUN/$t.first.program")
  start_polling_program $t.second
  program_holds_port "$RUN/$t.held-again"
  local status=0
  device_result || status=$?
  second=$(program_exit "$RUN/$t.second.program")
  stop_tap
  if [ "$status" = 0 ] && [ "$first" = 0 ] && [ "$second" = 0 ] &&
    grep -q 'the program closed its port' "$RUN/$t.tap" &&
    [ "$(grep -c 'the program opened its port' "$RUN/$t.tap")" -ge 2 ]; then
    pass "the tap goes on when the program closes its port and another run opens it"
  else
    flunk "tap across a program restart" "device $status, exits $first and $second" \
      "$RUN/$t.device" "$RUN/$t.tap"
  fi
}

# Both the device and the tap at 9600 8O1's pace: the program still answers
# every request and keystroke.
test_tap_at_line_rate() {
  local t=pace status=0 code
  device_on "$DEVICE_PORT" $t --line-rate "wait-file $RUN/$t.held" "identify 40000" "text Hi" \
    "query" "key enter" "run wine $WINCTL close"
  start_tap $t --line-rate
  start_polling_program $t
  program_holds_port "$RUN/$t.held"
  device_result || status=$?
  code=$(program_exit "$RUN/$t.program")
  stop_tap
  if [ "$status" = 0 ] && [ "$code" = 0 ] && [ "$(grep -c '<- FC ' "$RUN/$t.tap")" -ge 3 ] &&
    ! grep -q ' !! .* warning ' "$RUN/$t.tap"; then
    pass "at the line's pace, through a paced tap: identify, keystrokes and a query all answered"
  else
    flunk "line rate" "device $status, exit $code" "$RUN/$t.device" "$RUN/$t.tap"
  fi
}

# The conformance run needs no program: it plays the program's side. Its
# record, graded again, gives the same grades.
test_conform_passes_the_simulator() {
  local t=conform-pass port=$WORK/conform-port code=0
  device_on "$port" $t "soak 13"
  "$DEVICE" conform --port "$port" --seconds 12 --record "$RUN/$t.jsonl" >"$RUN/$t.log" 2>&1 || code=$?
  device_result
  if [ "$code" = 0 ] && [ "$(tail -n 1 "$RUN/$t.log")" = "7 passed, 0 failed, 0 not graded" ] &&
    [ "$(grep -c '^PASS' "$RUN/$t.log")" = 7 ]; then
    pass "conformance run against the simulator: every rule passes on evidence"
  else
    flunk "conformance run, simulator" "exit $code, $(tail -n 1 "$RUN/$t.log")" "$RUN/$t.log"
  fi
  "$DEVICE" grade "$RUN/$t.jsonl" >"$RUN/$t.graded" 2>&1
  code=$?
  if [ "$code" = 0 ] && diff <(grep -E '^(PASS|FAIL|NOT GRADED) ' "$RUN/$t.log") \
    <(grep -E '^(PASS|FAIL|NOT GRADED) ' "$RUN/$t.graded") >"$RUN/$t.grade-diff"; then
    pass "the conformance run's record, graded offline, gives the same grades"
  else
    flunk "conformance record graded offline" "exit $code" "$RUN/$t.grade-diff"
  fi
}

# A device that breaks rules, and keeps sending keystrokes while an FC is
# withheld: exactly those rules fail; with nothing after the reopen, that
# rule is not graded.
test_conform_fails_a_rule_breaker() {
  local t=conform-fail port=$WORK/conform-port
  device_on "$port" $t "sleep 500" "raw 04 1E 41" "sleep 500" "raw 84 9E 41" "sleep 500" \
    "raw 84 1E" "sleep 300" "raw 41" "sleep 500" "raw 84 1E 41 84 30 42" "sleep 500" \
    "raw 80 00 00" "sleep 300" "raw 84 1E 41" "sleep 300" "raw 84 1E 41" "listen 6000"
  "$DEVICE" conform --port "$port" --seconds 8 >"$RUN/$t.log" 2>&1
  local code=$?
  device_result
  local failed unsure
  failed=$(sed -n 's/^FAIL  \([a-z0-9-]*\):.*/\1/p' "$RUN/$t.log" | tr '\n' ' ')
  unsure=$(sed -n 's/^NOT GRADED  \([a-z0-9-]*\):.*/\1/p' "$RUN/$t.log" | tr '\n' ' ')
  if [ "$code" = 1 ] && [ "$failed" = "forms header-bit7 data-bit7 gaps waits-for-fc withheld-fc " ] &&
    [ "$unsure" = "reopen " ] && [ "$(tail -n 1 "$RUN/$t.log")" = "0 passed, 6 failed, 1 not graded" ]; then
    pass "conformance run against a rule breaker fails exactly its rules: $failed"
  else
    flunk "conformance run, rule breaker" "exit $code, failed: $failed, not graded: $unsure" "$RUN/$t.log"
  fi
}

# Tests that run on each build, beside the program's own; tests that need no
# program and run once.
DEVICE_TOOL_TESTS=(test_tap_is_transparent test_tap_warns_on_each_broken_rule
  test_tap_survives_a_program_restart test_tap_at_line_rate)
DEVICE_TOOL_ONCE=(test_conform_passes_the_simulator test_conform_fails_a_rule_breaker)
