#!/usr/bin/env bash
# Reproducible builds: builds both Windows executables and their release
# archives from two copies of the sources in two different folders and
# checks that they are the same, byte for byte. Prints each one's SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD/build/repro
rm -rf "$ROOT"
copies=("$ROOT/one" "$ROOT/a folder/two, deeper")

for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
  for preset in win32 win64; do
    (cd "$copy" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" --target release >/dev/null)
  done
done

status=0
for preset in win32 win64; do
  for file in qelmo.exe "$(cd "${copies[0]}/build/$preset" && ls talliver-*-"$preset".zip)"; do
    one=$(sha256sum <"${copies[0]}/build/$preset/$file" | cut -d' ' -f1)
    two=$(sha256sum <"${copies[1]}/build/$preset/$file" | cut -d' ' -f1)
    if [ "$one" = "$two" ]; then
      echo "ok    $preset $file is the same from both folders: sha256 $one"
    else
      echo "FAIL  $preset $file differs: $one and $two"
      cmp -l "${copies[0]}/build/$preset/$file" "${copies[1]}/build/$preset/$file" | head -n 5
      status=1
    fi
  done
done
rm -rf "$ROOT"
exit $status
