# Packs the builders' archive; run by the firmware-release target:
#   cmake -DNAME=... -DELF=... -DHEX=... -DPIN_MAP=... -DOUTPUT_DIR=... -P release.cmake
# It holds the firmware's .hex (for avrdude) and .elf (for debuggers and the
# simulator), the pin map and SHA256SUMS. Fixed file times and modes and a
# fixed order make the same sources give the same archive, byte for byte.
set(stage ${OUTPUT_DIR}/release/${NAME})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
set(files talliver-firmware.hex talliver-firmware.elf PINMAP.txt)
file(COPY_FILE ${HEX} ${stage}/talliver-firmware.hex)
file(COPY_FILE ${ELF} ${stage}/talliver-firmware.elf)
file(COPY_FILE ${PIN_MAP} ${stage}/PINMAP.txt)

set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")

# The zip is written by Python's zipfile, with every time and mode fixed:
# CMake's own zip writer records each file's access and change times too.
file(REMOVE ${OUTPUT_DIR}/${NAME}.zip)
execute_process(
    COMMAND python3 -c [[
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    for name in sys.argv[2:]:
        entry = zipfile.ZipInfo(name, date_time=(2000, 1, 1, 0, 0, 0))
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(name, "rb") as f:
            archive.writestr(entry, f.read())
]] ${OUTPUT_DIR}/${NAME}.zip ${files} SHA256SUMS
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT_DIR}/${NAME}.zip")
endif()
message(STATUS "${OUTPUT_DIR}/${NAME}.zip")
