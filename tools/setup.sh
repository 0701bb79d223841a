#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages: the native
# toolchain and GoogleTest, MinGW-w64 for the Windows programs, Wine, Xvfb
# and friends to run them, the AVR toolchain for the reference firmware and
# simavr with pytest for its tests, and an SVG renderer for the test of the
# device tool's pictures. Installs only what is missing.
#
# 32-bit Wine (wine32:i386) is added only where this machine runs 32-bit
# code; elsewhere nothing of i386 is installed and the x86-64 build stands
# in for the i686 release under Wine.
#
# Prints one line a step with its time; what apt says goes to
# build/setup.log, whose end is shown when a step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-arch.sh

packages=(cmake ninja-build g++ libgtest-dev clang-format python3 clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64 icoutils
  wine wine64 xvfb xauth xdotool imagemagick libc6-i386
  gcc-avr avr-libc binutils-avr simavr libsimavr-dev libelf-dev pkg-config python3-pytest
  librsvg2-bin)

# The package names are Debian 12's (bookworm); elsewhere say so up front.
. /etc/os-release 2>/dev/null || true
if [ "${ID:-}" != debian ] || [ "${VERSION_ID:-}" != 12 ]; then
  echo "setup: this is ${PRETTY_NAME:-an unknown system}, not Debian 12; the packages named here are Debian 12's and may differ"
fi

LOG=build/setup.log
mkdir -p build
: >"$LOG"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

# step TEXT COMMAND...: runs the command with its output in the log, then
# prints TEXT, the outcome and the seconds it took.
step() {
  local text=$1 start=$SECONDS code=0
  shift
  echo "== $text" >>"$LOG"
  "$@" >>"$LOG" 2>&1 || code=$?
  if [ "$code" != 0 ]; then
    echo "setup: $text: failed (exit $code) after $((SECONDS - start)) s; the end of $LOG:"
    tail -n 20 "$LOG" | sed 's/^/  | /'
    exit 1
  fi
  echo "setup: $text: done in $((SECONDS - start)) s"
}

missing_of() {
  local p
  MISSING=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || MISSING+=("$p")
  done
}

apt_install() {
  $sudo apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "$@"
}

missing_of "${packages[@]}"
if [ ${#MISSING[@]} -eq 0 ]; then
  echo "setup: all ${#packages[@]} packages are installed"
else
  step "installing what is missing: ${MISSING[*]}" apt_install "${MISSING[@]}"
fi

probe_32bit
if [ -n "$WINE32_WHY_NOT" ]; then
  echo "setup: 32-bit Wine left out: $WINE32_WHY_NOT"
else
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    step "adding the i386 architecture" $sudo dpkg --add-architecture i386
  fi
  missing_of wine32:i386
  if [ ${#MISSING[@]} -eq 0 ]; then
    echo "setup: 32-bit Wine is installed"
  else
    step "installing 32-bit Wine (wine32:i386)" apt_install wine32:i386
  fi
fi
