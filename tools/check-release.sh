#!/usr/bin/env bash
# Builds the release archives (the "release" target of the win32 and win64
# builds) and checks what they hold: the executable as built, a README.txt
# with CR LF line ends naming the version, the Windows users' page under its
# title, and a SHA256SUMS that matches.
# The version in the archive's name must be the executable's own.
set -uo pipefail
cd "$(dirname "$0")/.."
failed=0
check() { # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failed=$((failed + 1)); fi
}

for preset in win32 win64; do
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target release >/dev/null ||
    { echo "FAIL  $preset: the release target did not build"; failed=$((failed + 1)); continue; }
  zip=$(ls build/$preset/talliver-*-$preset.zip)
  name=$(basename "$zip" .zip)
  version=${name#talliver-}
  version=${version%-$preset}
  dir=build/$preset/release-check
  rm -rf "$dir" && mkdir -p "$dir"
  (cd "$dir" && cmake -E tar xf "../$(basename "$zip")")

  echo "$name.zip:"
  python3 -c 'import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist(): print("  %7d  %s" % (i.file_size, i.filename))' "$zip"
  check "$preset: holds exactly qelmo.exe, README.txt, SHA256SUMS" \
    test "$(cd "$dir" && ls | LC_ALL=C sort | tr '\n' ' ')" = "README.txt SHA256SUMS qelmo.exe "
  check "$preset: qelmo.exe is the one built" cmp -s "$dir/qelmo.exe" "build/$preset/qelmo.exe"
  check "$preset: SHA256SUMS matches" sh -c "cd '$dir' && sha256sum --quiet -c SHA256SUMS"
  check "$preset: README.txt has CR LF line ends only" \
    test "$(grep -c $'\r$' "$dir/README.txt")" = "$(wc -l <"$dir/README.txt")"
  check "$preset: README.txt names version $version" grep -q "TALLIVER $version for Windows" "$dir/README.txt"
  check "$preset: README.txt is docs/using.md under its title" \
    cmp -s <(tr -d '\r' <"$dir/README.txt" | tail -n +3) <(tail -n +3 docs/using.md)
  record=$(wrestool -x --raw --type=16 "$dir/qelmo.exe" | strings -el | grep -A1 -x FileVersion | tail -n 1)
  check "$preset: the version record reads \"$record\", the archive $version" \
    test "$(echo "$record" | sed 's/, /./g')" = "$version"
done
echo "release checks: $failed failed"
[ "$failed" = 0 ]
