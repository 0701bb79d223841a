#!/usr/bin/env bash
# Benchmark of the real program under Wine (not a test: it prints figures and
# judges nothing). Needs the native and Windows builds.
#   1. Latency: 40 keystrokes written by the device at random moments; for
#      each, the time from the device's write to the key-down arriving in the
#      focused target window, and to the program's FC reaching the device.
#   2. Idle cost: CPU time of the program's process, and of the wineserver,
#      over one minute with the device attached and silent.
#   bench/latency.sh [KEYSTROKES] [IDLE-SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
KEYS=${1:-40}
IDLE=${2:-60}

source tools/e2e/wine-env.sh
trap wine_down EXIT
wine_up >/dev/null
B=$WORK/bench
rm -rf "$B" && mkdir -p "$B"

percentiles() { # stdin: one number a line; prints "p50 p99 max"
  sort -n | awk '{v[NR]=$1} END {
    i50=int(NR*0.50)+1; i99=int(NR*0.99)+1; if (i99>NR) i99=NR; if (i50>NR) i50=NR;
    printf "%.1f %.1f %.1f\n", v[i50], v[i99], v[NR]}'
}

cpu_ticks() { # utime+stime of a process, in clock ticks
  awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}

# 1. Latency into a focused window.
"$DEVICE" --link "$COM_LINK" "identify 40000" "run touch $B/latency.polling" "wait-file $B/latency.go" \
  "latency $KEYS" "listen 300" "run wine $WINCTL close" >"$B/latency.device" 2>&1 &
device_pid=$!
start_program "$B/latency.program"
winctl notice-ok >/dev/null
target_when_polling "$B/latency" "$B/latency.target"
wait $device_pid

grep '^write-time-us' "$B/latency.device" | awk '{print $2}' >"$B/writes"
tr -d '\r' <"$B/latency.target" | awk '$2 == "KEYDOWN" && $3 == "vk=7C" {print $1}' >"$B/arrivals"
paste "$B/writes" "$B/arrivals" | awk 'NF == 2 {printf "%.3f\n", ($2 - $1) / 1000}' >"$B/to-target"
awk '$2 == "->" && $7 == "F13" {w=$1} $2 == "<-" && $3 == "FC" && w {printf "%.3f\n", $1 - w; w=0}' \
  "$B/latency.device" >"$B/to-fc"
read -r t50 t99 tmax < <(percentiles <"$B/to-target")
read -r f50 f99 fmax < <(percentiles <"$B/to-fc")

# 2. Idle cost over a minute.
"$DEVICE" --link "$COM_LINK" "identify 40000" "run touch $B/idle.polling" \
  "wait-file $B/idle.done" "run wine $WINCTL close" >"$B/idle.device" 2>&1 &
device_pid=$!
start_program "$B/idle.program"
winctl notice-ok >/dev/null
await_file "$B/idle.polling"
program_pid=$(pgrep -n -x qelmo.exe)
server_pid=$WINESERVER_PID
p0=$(cpu_ticks "$program_pid") s0=$(cpu_ticks "$server_pid")
sleep "$IDLE"
p1=$(cpu_ticks "$program_pid") s1=$(cpu_ticks "$server_pid")
touch "$B/idle.done"
wait $device_pid
hz=$(getconf CLK_TCK)
idle_program=$(awk -v t=$((p1 - p0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.2f", 100 * t / hz / s}')
idle_server=$(awk -v t=$((s1 - s0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.2f", 100 * t / hz / s}')
idle_ms=$(awk -v t=$((p1 - p0)) -v hz="$hz" -v s="$IDLE" 'BEGIN {printf "%.0f", 60000 * t / hz / s}')

echo "TALLIVER under Wine ($(basename "$BUILD") build), $(wine --version 2>/dev/null), $(nproc) cores"
echo
echo "| measure | p50 | p99 | max |"
echo "|---|---|---|---|"
echo "| device write -> key-down in the target window ($(wc -l <"$B/to-target") keystrokes) | $t50 ms | $t99 ms | $tmax ms |"
echo "| device write -> FC back at the device ($(wc -l <"$B/to-fc") keystrokes) | $f50 ms | $f99 ms | $fmax ms |"
echo
echo "| idle, ${IDLE} s with the device silent | CPU |"
echo "|---|---|"
echo "| program process | $idle_program % of a core ($idle_ms ms of CPU per minute) |"
echo "| wineserver | $idle_server % of a core |"
