# Sourced by tools/setup.sh and tools/wine/wine-env.sh: can this machine run
# 32-bit programs, and so 32-bit Wine and the i686 release?
#
# Not every x86-64 kernel runs 32-bit code; where it does not, every i386
# binary fails with "Exec format error". Debian's wine wrapper always runs the
# 32-bit loader once wine32 is installed, so there even 64-bit programs fail
# unless the 64-bit loader is called directly.
#
# TALLIVER_WINE64_ONLY=1 takes the 64-bit-only path on any machine, so that
# it can be tried where 32-bit code does run.

# Sets WINE32_WHY_NOT to the reason 32-bit Wine cannot be used, or to "".
# The dynamic loader of libc6-i386 (an amd64 package) is the probe: it exits
# 0 for --help only where the kernel runs 32-bit code.
probe_32bit() {
  WINE32_WHY_NOT=""
  local code=0
  if [ "${TALLIVER_WINE64_ONLY:-}" = 1 ]; then
    WINE32_WHY_NOT="TALLIVER_WINE64_ONLY=1 asks for the 64-bit-only path"
  elif [ ! -x /lib32/ld-linux.so.2 ]; then
    WINE32_WHY_NOT="there is no 32-bit loader to probe with (package libc6-i386)"
  else
    /lib32/ld-linux.so.2 --help >/dev/null 2>&1 || code=$?
    [ "$code" = 0 ] ||
      WINE32_WHY_NOT="this kernel cannot run 32-bit programs (/lib32/ld-linux.so.2 exits $code)"
  fi
}
