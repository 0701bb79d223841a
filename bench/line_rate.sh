#!/usr/bin/env bash
# Benchmark at the line's pace (not a test: it prints figures and judges
# nothing). The device simulator runs with --line-rate: its bytes go out as
# 9600 8O1 carries them, and it takes the program's output no faster, as a
# UART drains it. Needs the native and Windows builds.
#   1. Typing: keystrokes at random moments, device write -> FC back, first
#      with the pty's own speed, then at the line's pace.
#   2. A flood of queries at the line's rate, paced. Each one-byte query is
#      answered with three bytes, three times what the line can carry, so the
#      program's output backs up and its writes wait. Every 5 s a sent
#      message (winctl ping: how long the program's thread stays away from
#      its messages, which is the rest of its poll cycle); then, a few
#      seconds after a ping came back (a new cycle under way), a close
#      request while the flood goes on.
#   bench/line_rate.sh [KEYSTROKES] [FLOOD-SECONDS]   (40 60)
set -euo pipefail
cd "$(dirname "$0")/.."
KEYS=${1:-40}
FLOOD_S=${2:-60}
PING_EVERY_S=5

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

# 2. The flood, with pings and then a close request during it.
start_run flood --line-rate "identify 40000" "run touch $B/flood/polling" \
  "flood $(((FLOOD_S + 45) * 1000)) CC"
await_file "$B/flood/polling"
started=$(date +%s%N)
elapsed_s() { echo $((($(date +%s%N) - started) / 1000000000)); }
: >"$B/pings"
while [ "$(elapsed_s)" -lt "$FLOOD_S" ]; do
  sleep "$PING_EVERY_S"
  at=$(elapsed_s)
  echo "$at $(winctl ping | sed -n 's/^answered in \([0-9]*\) ms$/\1/p')" >>"$B/pings"
done
sleep "$PING_EVERY_S"
close_at=$(elapsed_s)
closed=$(winctl time-close || true)
exit_code=$(program_exit "$B/flood.program" 120)
exited_at=$(elapsed_s)
wait "$device_pid" || true

echo "TALLIVER at 9600 8O1's pace under Wine ($(basename "$BUILD") build), $(wine --version 2>/dev/null), $(nproc) cores"
echo
echo "| typing: device write -> FC | |"
echo "|---|---|"
echo "| pty speed | $(latency_line "$B/typing-plain.device") |"
echo "| --line-rate | $(latency_line "$B/typing-paced.device") |"
echo
echo "| flood of queries at the line's rate, paced: seconds in | a sent message waited |"
echo "|---|---|"
while read -r at ms; do echo "| ${at} s | ${ms:-no answer within 60 s} ms |"; done <"$B/pings"
echo
echo "| flood, then | |"
echo "|---|---|"
echo "| close request at ${close_at} s -> main window gone | ${closed:-not within 60 s} |"
echo "| the program's exit | code $exit_code, ${exited_at} s into the flood |"
echo "| the device's count | $(sed -n 's/^flood: \([^;]*\);.*; \(.*\)$/\1; \2/p' "$B/flood.device") |"
echo "| answers each second | $(sed -n 's/.*answers each second: \([^;]*\).*/\1/p' "$B/flood.device") |"
