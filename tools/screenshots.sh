#!/usr/bin/env bash
# Screenshots of the real program under Wine, for the README: the start-up
# notice mid-countdown, and the key monitor restored with Shift held (the
# simulated device holds Shift). Wine's virtual desktop draws the window
# frames that a bare X server would not. Needs the native and Windows builds.
#   tools/screenshots.sh [OUTPUT-DIR]   (default docs/)
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-docs}
mkdir -p "$OUT"

source tools/wine/wine-env.sh
# Every program of the prefix on one virtual desktop for this run, so that
# the helper finds the program's windows there; undone on the way out.
desktop() {
  if [ "$1" = on ]; then
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Shots /f
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Shots /d 800x600 /f
  else
    wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f
  fi >/dev/null 2>&1
}
trap 'desktop off; wine_down' EXIT
wine_up
desktop on
SHOTS=$WORK/shots
rm -rf "$SHOTS" && mkdir -p "$SHOTS"

start_device "$COM_LINK" "$SHOTS/device.log" "identify 60000" "run touch $SHOTS/polling" "wait-file $SHOTS/go" \
  "mods 03" "sleep 700" "run wine $WINCTL restore > $SHOTS/restore.tmp && mv $SHOTS/restore.tmp $SHOTS/restore" "mods 00" "listen 500" \
  "wait-file $SHOTS/done" "run wine $WINCTL close"
start_program "$SHOTS/program"

# Cut out the part of the desktop around a window: shot NAME X Y WIDTH HEIGHT.
shot() {
  import -display "$DISPLAY" -window root "$SHOTS/$1-desktop.png"
  convert "$SHOTS/$1-desktop.png" -crop "$4x$5+$2+$3" +repage "$OUT/$1.png"
}

sleep 4.5 # into the countdown
shot notice 337 293 446 172
winctl notice-ok >/dev/null
await_file "$SHOTS/polling"
touch "$SHOTS/go"
await_file "$SHOTS/restore"
sleep 0.5
shot monitor 90 90 320 220
touch "$SHOTS/done"
wait "$DEVICE_PID"
echo "restore with Shift held: $(tr -d '\r' <"$SHOTS/restore"); screenshots in $OUT/"
