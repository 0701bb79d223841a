#!/usr/bin/env bash
# Installs what building and testing need, from Debian's packages: the native
# toolchain and GoogleTest, MinGW-w64 for the Windows programs, and Wine,
# Xvfb and friends to run them. Installs only what is missing.
set -euo pipefail

packages=(cmake ninja-build g++ libgtest-dev clang-format python3 clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
  wine wine64 xvfb xauth xdotool imagemagick)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
# 32-bit Wine runs the 32-bit release as it is; without it the 64-bit build is used.
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' || missing+=(wine32:i386)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  if [[ " ${missing[*]} " == *" wine32:i386 "* ]]; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    {
      # Without 32-bit Wine everything still runs on the 64-bit build.
      echo "setup: retrying without wine32:i386"
      missing=("${missing[@]/wine32:i386/}")
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends ${missing[*]}
    }
fi
