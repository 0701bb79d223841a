#!/usr/bin/env bash
# Reproducible builds: builds both Windows executables from two copies of
# the sources in two different folders and checks that they are the same,
# byte for byte. Prints each executable's SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD/build/repro
rm -rf "$ROOT"
copies=("$ROOT/one" "$ROOT/a folder/two, deeper")

for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
  for preset in win32 win64; do
    (cd "$copy" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target qelmo >/dev/null)
  done
done

status=0
for preset in win32 win64; do
  one=$(sha256sum <"${copies[0]}/build/$preset/qelmo.exe" | cut -d' ' -f1)
  two=$(sha256sum <"${copies[1]}/build/$preset/qelmo.exe" | cut -d' ' -f1)
  if [ "$one" = "$two" ]; then
    echo "ok    $preset qelmo.exe is the same from both folders: sha256 $one"
  else
    echo "FAIL  $preset qelmo.exe differs: $one and $two"
    cmp -l "${copies[0]}/build/$preset/qelmo.exe" "${copies[1]}/build/$preset/qelmo.exe" | head -n 5
    status=1
  fi
done
rm -rf "$ROOT"
exit $status
