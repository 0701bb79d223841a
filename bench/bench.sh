#!/usr/bin/env bash
# Benchmark of the real program under Wine (not a test: it prints figures and
# judges nothing). Needs the native and Windows builds.
#   1. Latency: keystrokes written by the device at random moments; for each,
#      the time from the device's write to the key-down arriving in the
#      focused target window, and to the program's FC reaching the device.
#   2. Idle cost: CPU time of the program's process, and of the wineserver,
#      with the device attached and silent; then how long a close takes.
#   3. Soak: mixed traffic at a device's pace into a focused window:
#      keystrokes sent, FCs back, keys arrived, lost, FC latency, and the
#      program's memory and handle count at the start and at the end.
#   4. Flood: queries at 9600 baud's line rate for 20 s; 5 s in, how long the
#      program takes a sent message, a close request, and the end of the
#      session, and the answers each second.
#   bench/bench.sh [KEYSTROKES] [IDLE-SECONDS] [SOAK-SECONDS]   (40 60 300)
# Under Wine, destroying a minimised window takes about 2 s without a window
# manager; the idle close time shows that part, which is Wine's own.
set -euo pipefail
cd "$(dirname "$0")/.."
KEYS=${1:-40}
IDLE=${2:-60}
SOAK=${3:-300}
FLOOD_MS=20000

source bench/bench_env.sh

percentiles() { # stdin: one number a line; prints "p50 p99 max"
  sort -n | awk '{v[NR]=$1} END {
    i50=int(NR*0.50)+1; i99=int(NR*0.99)+1; if (i99>NR) i99=NR; if (i50>NR) i50=NR;
    printf "%.1f %.1f %.1f\n", v[i50], v[i99], v[NR]}'
}

cpu_ticks() { # utime+stime of a process, in clock ticks
  awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}

resident_kb() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# Device scripts touch $B/NAME/polling once the identify is answered.

# 1. Latency into a focused window.
start_run latency "identify 40000" "run touch $B/latency/polling" "wait-file $B/latency/go" \
  "latency $KEYS" "listen 300" "run wine $WINCTL close"
target_when_polling "$B/latency"
wait $device_pid

grep '^write-time-us' "$B/latency.device" | awk '{print $2}' >"$B/writes"
tr -d '\r' <"$B/latency/target" | awk '$2 == "KEYDOWN" && $3 == "vk=7C" {print $1}' >"$B/arrivals"
paste "$B/writes" "$B/arrivals" | awk 'NF == 2 {printf "%.3f\n", ($2 - $1) / 1000}' >"$B/to-target"
awk '$2 == "->" && $7 == "F13" {w=$1} $2 == "<-" && $3 == "FC" && w {printf "%.3f\n", $1 - w; w=0}' \
  "$B/latency.device" >"$B/to-fc"
read -r t50 t99 tmax < <(percentiles <"$B/to-target")
read -r f50 f99 fmax < <(percentiles <"$B/to-fc")

# 2. Idle cost, then a close with nothing else going on.
start_run idle "identify 40000" "run touch $B/idle/polling" "wait-file $B/idle.done"
await_file "$B/idle/polling"
program_pid=$(program_pid)
server_pid=$WINESERVER_PID
p0=$(cpu_ticks "$program_pid") s0=$(cpu_ticks "$server_pid")
sleep "$IDLE"
p1=$(cpu_ticks "$program_pid") s1=$(cpu_ticks "$server_pid")
idle_close=$(winctl time-close | sed 's/^closed in //')
touch "$B/idle.done"
wait $device_pid
hz=$(getconf CLK_TCK)
idle_program=$(awk -v t=$((p1 - p0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.2f", 100 * t / hz / s}')
idle_server=$(awk -v t=$((s1 - s0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.2f", 100 * t / hz / s}')
idle_ms=$(awk -v t=$((p1 - p0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.0f", 60000 * t / hz / s}')

# 3. Soak.
start_run soak "identify 40000" "run touch $B/soak/polling" "wait-file $B/soak/go" "soak $SOAK" \
  "run touch $B/soak.end" "wait-file $B/soak.done" "run wine $WINCTL close"
target_when_polling "$B/soak"
program_pid=$(program_pid)
rss0=$(resident_kb "$program_pid") handles0=$(winctl handles)
await_file "$B/soak.end" $((SOAK + 120))
rss1=$(resident_kb "$program_pid") handles1=$(winctl handles)
touch "$B/soak.done"
wait $device_pid
soak_line=$(grep '^soak:' "$B/soak.device")
soak_keys=$(echo "$soak_line" | sed -n 's/.* \([0-9]*\) keystrokes.*/\1/p')
soak_fc=$(echo "$soak_line" | sed -n 's/.* \([0-9]*\) FC,.*/\1/p')
soak_lost=$(echo "$soak_line" | sed -n 's/.* \([0-9]*\) lost;.*/\1/p')
soak_p50=$(echo "$soak_line" | sed -n 's/.*p50 \([0-9.]*\) ms.*/\1/p')
soak_p99=$(echo "$soak_line" | sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p')
soak_arrived=$(tr -d '\r' <"$B/soak/target" | grep -c ' KEYDOWN vk=7C')

# 4. Flood: three runs, each with one request 5 s in: a sent message (how
# long the program's thread stays away from its messages), a close request,
# and the end of the session.
flood() { # NAME WINCTL-VERB
  start_run "$1" "identify 40000" "run touch $B/$1/polling" "flood $FLOOD_MS CC"
  await_file "$B/$1/polling"
  sleep 5
  winctl "$2" >"$B/$1.answer"
  [ "$2" = ping ] && winctl close >/dev/null
  wait $device_pid || true  # the program closes mid-flood: what it never read fails the run
  program_exit "$B/$1.program" >/dev/null
}
flood flood-ping ping
flood flood-close time-close
flood flood-session time-endsession
flood_ping=$(sed 's/^answered in //' "$B/flood-ping.answer")
flood_close=$(sed 's/^closed in //' "$B/flood-close.answer")
flood_session=$(sed 's/^answered //' "$B/flood-session.answer")
per_second() { sed -n 's/.*answers each second: //p' "$B/$1.device"; }

echo "TALLIVER under Wine ($(basename "$BUILD") build), $(wine --version 2>/dev/null), $(nproc) cores"
echo
echo "| measure | p50 | p99 | max |"
echo "|---|---|---|---|"
echo "| device write -> key-down in the target window ($(wc -l <"$B/to-target") keystrokes) | $t50 ms | $t99 ms | $tmax ms |"
echo "| device write -> FC back at the device ($(wc -l <"$B/to-fc") keystrokes) | $f50 ms | $f99 ms | $fmax ms |"
echo
echo "| idle, ${IDLE} s with the device silent | |"
echo "|---|---|"
echo "| program process CPU | $idle_program % of a core ($idle_ms ms of CPU per minute) |"
echo "| wineserver CPU | $idle_server % of a core |"
echo "| close request -> main window gone | $idle_close |"
echo
echo "| soak, ${SOAK} s of mixed traffic | |"
echo "|---|---|"
echo "| keystrokes sent / FC received / lost | $soak_keys / $soak_fc / $soak_lost |"
echo "| keys arrived in the target window | $soak_arrived |"
echo "| FC latency p50 / p99 | $soak_p50 ms / $soak_p99 ms |"
echo "| program memory (resident) start -> end | $rss0 kB -> $rss1 kB |"
echo "| program handles start -> end | $handles0 -> $handles1 |"
echo "| the device's summary | $soak_line |"
echo
echo "| flood: queries at 9600 baud's line rate, $((FLOOD_MS / 1000)) s; requests 5 s in | |"
echo "|---|---|"
echo "| a sent message taken by the program | $flood_ping |"
echo "| close request -> main window gone | $flood_close |"
echo "| end of the session answered | $flood_session |"
echo "| answers each second, close run | $(per_second flood-close) |"
