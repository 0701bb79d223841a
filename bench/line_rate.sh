#!/usr/bin/env bash
# Benchmark at the line's pace (not a test: it prints figures and judges
# nothing). The device runs at 9600 8O1's pace both ways: its bytes go out
# no faster than that line carries them, and it takes the program's output
# no faster either, as a UART drains it. Needs the native and Windows builds.
#   1. Typing: keystrokes at random moments, device write -> FC back, at the
#      pty's own speed and at the line's pace (the device simulator).
#   2. Wine's own close time: a close request to an idle program.
#   3. A query flood (bench/flood_pace): queries sent back to back for
#      FLOOD-SECONDS, each answered with three bytes, three times what the
#      line carries back. The answers a second, the longest gap between two
#      answers, and whether every query is answered once the flood stops.
#   4. The same flood with a close request 5, 15, 40 and 65 s in, one run
#      each: how long until the program's window is gone.
#   bench/line_rate.sh [KEYSTROKES] [FLOOD-SECONDS]   (40 60)
# BENCH_CLOSE_AT="5 15" chooses the moments of the close requests.
set -euo pipefail
cd "$(dirname "$0")/.."
KEYS=${1:-40}
FLOOD_S=${2:-60}
read -r -a CLOSE_AT <<<"${BENCH_CLOSE_AT:-5 15 40 65}"
FLOOD_PACE=$PWD/build/native/bench/flood_pace

source bench/bench_env.sh

latency_line() { sed -n 's/^latency write->FC over \([0-9]*\) keystrokes: /\1 keystrokes: /p' "$1"; }

# 1. Typing, unpaced and paced (the notice is skipped; keys go to the
# program's own window, which is all the FC needs).
for pace in plain paced; do
  flag=()
  [ "$pace" = paced ] && flag=(--line-rate)
  start_run "typing-$pace" "${flag[@]}" "identify 40000" "latency $KEYS" "run wine $WINCTL close"
  wait "$device_pid"
  program_exit "$B/typing-$pace.program" >/dev/null
done

# 2. A close with nothing else going on.
start_run idle "identify 40000" "run touch $B/idle/polling" "wait-file $B/idle.done"
await_file "$B/idle/polling"
idle_close=$(winctl time-close | sed 's/^closed in //')
touch "$B/idle.done"
wait "$device_pid" || true
program_exit "$B/idle.program" >/dev/null

# Starts flood_pace (flood_pid) and the program, skips the notice, and
# returns once the flood has begun.
start_flood() { # NAME SECONDS
  "$FLOOD_PACE" "$COM_LINK" "$2" 30 >"$B/$1.flood" 2>&1 &
  flood_pid=$!
  for _ in $(seq 50); do [ -L "$COM_LINK" ] && break; sleep 0.1; done
  start_program "$B/$1.program"
  winctl notice-ok >/dev/null
  for _ in $(seq 600); do grep -q '^flood begins' "$B/$1.flood" && return 0; sleep 0.1; done
  echo "line_rate: the flood did not begin (see $B/$1.flood)" >&2
  return 1
}

# 3. The flood alone, then until every query is answered.
start_flood flood "$FLOOD_S"
wait "$flood_pid" || true
winctl close >/dev/null
program_exit "$B/flood.program" >/dev/null

# 4. A close request during the flood, one run for each moment.
for at in "${CLOSE_AT[@]}"; do
  start_flood "close-$at" $((at + 30))
  sleep "$at"
  winctl time-close >"$B/close-$at.answer" || true
  program_exit "$B/close-$at.program" 60 >/dev/null
  kill "$flood_pid" 2>/dev/null || true
  wait "$flood_pid" || true
done

flood_line() { sed -n "s/^$1: //p" "$B/flood.flood"; }
echo "TALLIVER at 9600 8O1's pace under Wine ($PROGRAM), $(wine --version 2>/dev/null), $(nproc) cores"
echo
echo "| typing: device write -> FC | |"
echo "|---|---|"
echo "| pty speed | $(latency_line "$B/typing-plain.device") |"
echo "| --line-rate | $(latency_line "$B/typing-paced.device") |"
echo
echo "| a query flood, ${FLOOD_S} s, paced both ways | |"
echo "|---|---|"
echo "| sent | $(flood_line flood) |"
echo "| answered | $(flood_line answered) |"
echo "| answers a second | $(flood_line 'answers a second') |"
echo "| longest gap between answers | $(flood_line 'longest gap between answers') |"
echo
echo "| close request -> main window gone | |"
echo "|---|---|"
echo "| the program idle (Wine's own close) | ${idle_close:-not within 60 s} |"
for at in "${CLOSE_AT[@]}"; do
  echo "| ${at} s into the flood | $(sed 's/^closed in //' "$B/close-$at.answer" | grep . || echo 'not within 60 s') |"
done
