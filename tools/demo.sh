#!/usr/bin/env bash
# The main job, for real: builds what it runs, starts the Windows program under
# Wine with its COM1 on the device simulator's pty, and has the simulated
# device type a short text into a real window through it, as written with
# Caps Lock on and off. Prints the device's transcript and what the window
# received.
#   tools/demo.sh [--notice]   (--notice: let the start-up notice count down)
set -euo pipefail
cd "$(dirname "$0")/.."

tools/setup.sh
# The device tool is all the demo needs of the native build (its tests take
# most of that build's time).
for preset in native win32 win64; do
  echo "building the $preset preset (a first build takes a few minutes)"
  cmake --preset "$preset" >/dev/null
  if [ "$preset" = native ]; then
    cmake --build --preset native --target talliver-device >/dev/null
  else
    cmake --build --preset "$preset" >/dev/null
  fi
done

source tools/wine/wine-env.sh
trap wine_down EXIT
wine_up
DEMO=$WORK/demo
rm -rf "$DEMO" && mkdir -p "$DEMO"

echo
echo "Starting $(basename "$PROGRAM") ($(basename "$BUILD")); its COM1 is the device simulator's pty."
start_device "$COM_LINK" "$DEMO/device.log" \
  "identify 40000" "run touch $DEMO/polling" "wait-file $DEMO/go" \
  "text Hello from the VANTOLE device." "key enter" \
  "mods 40" "sleep 500" "expect-flags 40" \
  "text Caps Lock is on, and this is typed as written." "key enter" \
  "mods 00" "sleep 500" "expect-flags 00" "text and off again." \
  "listen 500" "run wine $WINCTL close"
start_program "$DEMO/program"
if [ "${1:-}" = --notice ]; then
  echo "The start-up notice counts down from 0:10 ..."
else
  winctl notice-ok >/dev/null
fi
target_when_polling "$DEMO"

status=0
wait "$DEVICE_PID" || status=$?
code=$(program_exit "$DEMO/program")

echo
echo "Device transcript (ms since start; -> sent by the device, <- answered by the program):"
cat "$DEMO/device.log"
echo
echo "The key target window received: \"$(target_text "$DEMO/target" | sed 's/\r/\\n/g')\""
echo "The program exited with code $code."
[ "$status" = 0 ] && [ "$code" = 0 ]
