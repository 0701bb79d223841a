#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages: the native
# toolchain and GoogleTest, MinGW-w64 for the Windows programs, and Wine,
# Xvfb and friends to run them. Installs only what is missing.
#
# 32-bit Wine (wine32:i386) is added only where this machine runs 32-bit
# code; elsewhere nothing of i386 is installed and the x86-64 build stands
# in for the i686 release under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine-arch.sh

packages=(cmake ninja-build g++ libgtest-dev clang-format python3 clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64 icoutils
  wine wine64 xvfb xauth xdotool imagemagick libc6-i386)

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -q >/dev/null
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

probe_32bit
if [ -n "$WINE32_WHY_NOT" ]; then
  echo "setup: 32-bit Wine left out: $WINE32_WHY_NOT"
else
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -q >/dev/null
  fi
  install_missing wine32:i386
fi
