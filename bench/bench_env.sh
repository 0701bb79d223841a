# Sourced by the benchmarks (run from the top of the tree): the Wine
# environment of the end-to-end tests, a fresh folder $B for the run's files,
# and a starter for the program with a device script beside it.
source tools/e2e/wine-env.sh
trap wine_down EXIT
wine_up >/dev/null
# BENCH_PROGRAM=PATH.exe measures another build of the program (an earlier
# commit's, say) with the same helpers, for a before-and-after.
[ -n "${BENCH_PROGRAM:-}" ] && PROGRAM=$(realpath "$BENCH_PROGRAM")
B=$WORK/bench
rm -rf "$B" && mkdir -p "$B"

# Starts a device script, then the program, in a folder of the run's own,
# $B/NAME; skips the notice. device_pid is the device's.
start_run() { # NAME DEVICE-ARGUMENT...
  local name=$1
  shift
  mkdir -p "$B/$name"
  start_device "$COM_LINK" "$B/$name.device" "$@"
  device_pid=$DEVICE_PID
  start_program "$B/$name.program"
  winctl notice-ok >/dev/null
}
