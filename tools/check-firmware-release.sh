#!/usr/bin/env bash
# The builders' firmware archive, reproducibly: builds it (the avr preset's
# firmware-release target) from two copies of the sources in two different
# folders, checks that the two archives are the same byte for byte, and
# checks what the archive holds: the .hex and .elf, the pin map, a README
# whose flashing commands are those of the builders' guide, and a
# SHA256SUMS that matches, the .hex being the .elf's flash image. Prints the
# SHA-256 of the archive and of each file in it.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD/build/repro-firmware
rm -rf "$ROOT"
copies=("$ROOT/one" "$ROOT/a folder/two, deeper")

for copy in "${copies[@]}"; do
  mkdir -p "$copy"
  git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
  (cd "$copy" && cmake --preset avr >/dev/null &&
    cmake --build --preset avr --target firmware-release | grep -E 'flash|\.zip')
done

failed=0
check() { # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failed=$((failed + 1)); fi
}

one=$(ls "${copies[0]}"/build/avr/firmware/talliver-firmware-*.zip)
two=$(ls "${copies[1]}"/build/avr/firmware/talliver-firmware-*.zip)
name=$(basename "$one")
check "the archive has the same name from both folders: $name" test "$name" = "$(basename "$two")"
check "the archive is the same from both folders, byte for byte" cmp -s "$one" "$two"

dir=$ROOT/unpacked
mkdir -p "$dir"
(cd "$dir" && cmake -E tar xf "$one")
check "it holds exactly the .hex, the .elf, PINMAP.txt, README.txt and SHA256SUMS" \
  test "$(cd "$dir" && ls | LC_ALL=C sort | tr '\n' ' ')" = \
  "PINMAP.txt README.txt SHA256SUMS talliver-firmware.elf talliver-firmware.hex "
check "SHA256SUMS matches" sh -c "cd '$dir' && sha256sum --quiet -c SHA256SUMS"
avr-objcopy -O ihex -R .eeprom "$dir/talliver-firmware.elf" "$ROOT/from-elf.hex"
check "the .hex is the .elf's flash image" cmp -s "$dir/talliver-firmware.hex" "$ROOT/from-elf.hex"
check "PINMAP.txt lists the buttons" grep -q '^PD2 ' "$dir/PINMAP.txt"
# Each avrdude command of the README, word for word on the guide's page.
readme_commands_on_page() {
  local command
  grep -q avrdude "$dir/README.txt" || return 1
  while read -r command; do
    grep -qxF "$command" docs/device-builders.md || { echo "      not on the page: $command"; return 1; }
  done < <(grep -o 'avrdude .*' "$dir/README.txt")
}
check "README.txt flashes as docs/device-builders.md does" readme_commands_on_page

echo "sha256:"
(cd "$(dirname "$one")" && sha256sum "$name" | sed 's/^/  /')
(cd "$dir" && sha256sum talliver-firmware.hex talliver-firmware.elf PINMAP.txt README.txt | sed 's/^/  /')
echo "firmware release checks: $failed failed"
[ "$failed" = 0 ] && rm -rf "$ROOT"
[ "$failed" = 0 ]
