# Sourced by run.sh: end-to-end tests of the device builders' tools, the tap
# and the conformance run, and of grading their records again. Each test's
# files, and the device's port, lie in its own folder $T.

# The tap between the device's port ($T/device-port) and the program's COM
# port ($LINK), logging to $T/NAME.tap; waits until its link is there.
start_tap() { # NAME [OPTION...]
  local name=$1
  shift
  "$DEVICE" tap --port "$T/device-port" --link "$LINK" --log "$T/$name.tap" "$@" \
    >/dev/null 2>"$T/$name.tap-errors" &
  TAP_PID=$!
  await_link "$LINK" "$TAP_PID" && return 0
  harness "$name" "the tap made no link $LINK" "$T/$name.tap-errors"
  return 1
}
stop_tap() { kill "$TAP_PID" 2>/dev/null && wait "$TAP_PID" 2>/dev/null; }

# The tap drops what the device sends before a program holds the port, as a
# closed COM port does: a device behind it waits for $T/held, which a test
# touches once the program is up (its notice shows only after the port is
# open).
device_behind_tap() { device_on "$T/device-port" "$@"; }
program_holds_port() { touch "$T/${1:-held}"; }

# What the program said, without the times: "98 02 22  identity 2, 34".
program_side() { awk '$2 == "<-" {$1 = ""; print}' "$1"; }

# The warnings a transcript shows: "!!" lines from the first port event on.
warning_lines() { sed -n '/device port open/,$p' "$1" | grep ' !! '; }

# The same script straight into the program and through the tap: the
# program's side is the same, and the tap has nothing to warn about.
test_tap_is_transparent() {
  local t=tap title="through the tap the program answers as without it, and the tap prints the same"
  local script=("identify 40000" "query" "mods 40" "sleep 600" "expect-flags 40" "mods 00"
    "sleep 600" "key a" "text Hi" "listen 600" "run wine $WINCTL close")
  device $t.direct "${script[@]}" || return
  start_polling_program $t.direct
  device_result
  program_exit "$RUN/$t.direct.program" >/dev/null

  device_behind_tap $t.tapped "wait-file $T/held" "${script[@]}" || return
  start_tap $t || return
  start_polling_program $t.tapped
  program_holds_port
  local status=0
  device_result || status=$?
  program_exit "$RUN/$t.tapped.program" >/dev/null
  stop_tap
  if [ "$status" != 0 ]; then
    flunk "$title" "the device: $(device_why "$RUN/$t.tapped.device")" "$RUN/$t.tapped.device"
  elif [ -z "$(program_side "$RUN/$t.direct.device")" ] ||
    ! diff <(program_side "$RUN/$t.direct.device") <(program_side "$RUN/$t.tapped.device") >"$RUN/$t.diff"; then
    flunk "$title" "the program answered differently through the tap:" "$RUN/$t.diff"
  elif grep -q ' !! .* warning ' "$RUN/$t.tap" ||
    [ "$(program_side "$RUN/$t.tap")" != "$(program_side "$RUN/$t.direct.device")" ]; then
    flunk "$title" "the tap warned, or printed the program's side otherwise" "$RUN/$t.tap"
  else
    pass "$title"
  fi
}

# One device after another behind the tap, each breaking one rule: each
# raises exactly its warning. (No FC within two ticks is the program's
# timing, not a rule these scripts break, so it is not counted.) The tap's
# record, graded again afterwards, gives the same warnings and summary.
test_tap_warns_on_each_broken_rule() {
  local t=rules i
  local scripts=("raw 04 1E 41" "raw 84 9E 41" "raw 84 1E|sleep 300|raw 41" "raw 80 00 00"
    "raw C4" "raw 84 1E 41 84 30 42" "raw 88 00 02|sleep 300|raw 88 00 00")
  local expected=(header-bit7 data-bit7 incomplete ignored-command one-byte-data key-before-fc
    one-shift-bit)
  local title="the tap raises exactly the broken rule's warning, for each of ${#expected[@]} rules; its record, graded offline, gives the same"
  device_behind_tap $t.0 "wait-file $T/held" "identify 40000" "listen 300" || return
  start_tap $t --record "$T/$t.jsonl" || return
  start_polling_program $t
  program_holds_port
  device_result
  for i in "${!scripts[@]}"; do
    IFS='|' read -r -a steps <<<"${scripts[$i]}"
    device_behind_tap "$t.$((i + 1))" "sleep 800" "${steps[@]}" "listen 800" || return
    device_result
  done
  device_behind_tap $t.end "sleep 800" "run wine $WINCTL close" || return
  device_result
  program_exit "$RUN/$t.program" >/dev/null
  stop_tap
  # The warnings between one device's arrival and the next's.
  local got want code=0
  got=$(awk '/device port open/ {n++} $2 == "!!" && $4 != "no-fc:" {sub(":", "", $4); w[n] = w[n] " " $4}
    END {for (i = 2; i <= n - 1; i++) printf "%s;", w[i]}' "$RUN/$t.tap")
  want=$(printf ' %s;' "${expected[@]}")
  "$DEVICE" grade "$T/$t.jsonl" >"$T/$t.graded" 2>&1 || code=$?
  if [ "$got" != "$want" ]; then
    flunk "$title" "warnings '$got', want '$want'" "$RUN/$t.tap"
  elif [ "$code" != 1 ] ||
    ! diff <(warning_lines "$RUN/$t.tap") <(warning_lines "$T/$t.graded") >"$T/$t.grade-diff" ||
    ! diff <(grep '^tap: warnings:' "$RUN/$t.tap") <(grep '^tap: warnings:' "$T/$t.graded") >>"$T/$t.grade-diff"; then
    flunk "$title" "graded offline (exit $code), the record differs from the live run:" \
      "$T/$t.grade-diff" "$T/$t.graded"
  else
    pass "$title"
  fi
}

# The program closes its port and a new one opens it: the tap goes on, and
# its rules start over.
test_tap_survives_a_program_restart() {
  local t=restart first second title="the tap goes on when the program closes its port and another run opens it"
  device_behind_tap $t "wait-file $T/held" "identify 40000" "listen 300" "run wine $WINCTL close" \
    "wait-file $T/held-again" "identify 20000" "run wine $WINCTL close" || return
  start_tap $t || return
  start_polling_program $t.first
  program_holds_port
  first=$(program_exit "$RUN/$t.first.program")
  start_polling_program $t.second
  program_holds_port held-again
  local status=0
  device_result || status=$?
  second=$(program_exit "$RUN/$t.second.program")
  stop_tap
  if [ "$status" != 0 ] || [ "$first" != 0 ] || [ "$second" != 0 ]; then
    flunk "$title" "device: $(device_why "$RUN/$t.device"), exits $first and $second" \
      "$RUN/$t.device" "$RUN/$t.tap"
  elif ! grep -q 'the program closed its port' "$RUN/$t.tap" ||
    [ "$(grep -c 'the program opened its port' "$RUN/$t.tap")" -lt 2 ]; then
    flunk "$title" "the tap did not see the port closed and opened again" "$RUN/$t.tap"
  else
    pass "$title"
  fi
}

# Both the device and the tap at 9600 8O1's pace: the program still answers
# every request and keystroke.
test_tap_at_line_rate() {
  local t=pace status=0 code title="at the line's pace, through a paced tap: identify, keystrokes and a query all answered"
  device_behind_tap $t --line-rate "wait-file $T/held" "identify 40000" "text Hi" "query" \
    "key enter" "run wine $WINCTL close" || return
  start_tap $t --line-rate || return
  start_polling_program $t
  program_holds_port
  device_result || status=$?
  code=$(program_exit "$RUN/$t.program")
  stop_tap
  if [ "$status" != 0 ] || [ "$code" != 0 ]; then
    flunk "$title" "device: $(device_why "$RUN/$t.device"), exit $code" "$RUN/$t.device"
  elif [ "$(grep -c '<- FC ' "$RUN/$t.tap")" -lt 3 ] || grep -q ' !! .* warning ' "$RUN/$t.tap"; then
    flunk "$title" "the tap saw fewer than 3 FCs, or warned" "$RUN/$t.tap"
  else
    pass "$title"
  fi
}

# The conformance run needs no program: it plays the program's side. Its
# record, graded again, gives the same grades.
test_conform_passes_the_simulator() {
  local t=conform-pass code=0 title="conformance run against the simulator: every rule passes on evidence, and so again from its record"
  device_on "$T/port" $t "soak 13" || return
  "$DEVICE" conform --port "$T/port" --seconds 12 --record "$T/$t.jsonl" >"$RUN/$t.log" 2>&1 || code=$?
  device_result
  if [ "$code" != 0 ] || [ "$(tail -n 1 "$RUN/$t.log")" != "8 passed, 0 failed, 0 not graded" ] ||
    [ "$(grep -c '^PASS' "$RUN/$t.log")" != 8 ]; then
    flunk "$title" "exit $code, $(tail -n 1 "$RUN/$t.log")" "$RUN/$t.log"
    return
  fi
  "$DEVICE" grade "$T/$t.jsonl" >"$T/$t.graded" 2>&1 || code=$?
  if [ "$code" != 0 ] || ! diff <(grep -E '^(PASS|FAIL|NOT GRADED) ' "$RUN/$t.log") \
    <(grep -E '^(PASS|FAIL|NOT GRADED) ' "$T/$t.graded") >"$T/$t.grade-diff"; then
    flunk "$title" "graded offline (exit $code), the grades differ:" "$T/$t.grade-diff"
  else
    pass "$title"
  fi
}

# A device that breaks rules, and keeps sending keystrokes while an FC is
# withheld: exactly those rules fail; with nothing after the reopen and no
# query, those two rules are not graded.
test_conform_fails_a_rule_breaker() {
  local t=conform-fail failed unsure code=0
  device_on "$T/port" $t "sleep 500" "raw 04 1E 41" "sleep 500" "raw 84 9E 41" "sleep 500" \
    "raw 84 1E" "sleep 300" "raw 41" "sleep 500" "raw 84 1E 41 84 30 42" "sleep 500" \
    "raw 80 00 00" "sleep 300" "raw 84 1E 41" "sleep 300" "raw 84 1E 41" "listen 6000" || return
  "$DEVICE" conform --port "$T/port" --seconds 8 >"$RUN/$t.log" 2>&1 || code=$?
  device_result
  failed=$(sed -n 's/^FAIL  \([a-z0-9-]*\):.*/\1/p' "$RUN/$t.log" | tr '\n' ' ')
  unsure=$(sed -n 's/^NOT GRADED  \([a-z0-9-]*\):.*/\1/p' "$RUN/$t.log" | tr '\n' ' ')
  if [ "$code" = 1 ] && [ "$failed" = "forms header-bit7 data-bit7 gaps waits-for-fc withheld-fc " ] &&
    [ "$unsure" = "reopen query-flood " ] && [ "$(tail -n 1 "$RUN/$t.log")" = "0 passed, 6 failed, 2 not graded" ]; then
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
