# Sourced by the benchmarks (run from the top of the tree): the Wine
# environment of the end-to-end tests, a fresh folder $B for the run's files,
# and a starter for the program with a device script beside it.
source tools/wine/wine-env.sh
trap wine_down EXIT
wine_up >/dev/null
# BENCH_PROGRAM=PATH.exe measures another build of the program (an earlier
# commit's, say) with the same helpers, for a before-and-after.
[ -n "${BENCH_PROGRAM:-}" ] && PROGRAM=$(realpath "$BENCH_PROGRAM")
B=$WORK/bench
rm -rf "$B" && mkdir -p "$B"

# Starts a device script, then the program, in a folder of the run's own,
# $B/NAME; skips the notice. device_pid is the device's.
# Once in CI a program started a few milliseconds after the previous run's
# had exited ended at once, with exit code 0, before its notice showed.
# That is not what a benchmark measures: it is said on stderr, and the
# program is started once more (the device is still waiting for it).
start_run() { # NAME DEVICE-ARGUMENT...
  local name=$1
  shift
  mkdir -p "$B/$name"
  start_device "$COM_LINK" "$B/$name.device" "$@"
  device_pid=$DEVICE_PID
  start_program "$B/$name.program"
  winctl notice-ok >/dev/null && return 0
  [ -s "$B/$name.program.exit" ] || return 1
  echo "bench: $name: the program ended as it started (exit $(cat "$B/$name.program.exit")), before its notice; starting it again" >&2
  start_program "$B/$name.program"
  winctl notice-ok >/dev/null
}
