# Packs the builders' archive; run by the firmware-release target:
#   cmake -DNAME=... -DELF=... -DHEX=... -DPIN_MAP=... -DOUTPUT_DIR=... -P release.cmake
# It holds the firmware's .hex (for avrdude) and .elf (for debuggers and the
# simulator), the pin map, README.txt and SHA256SUMS. Fixed file times and modes and a
# fixed order make the same sources give the same archive, byte for byte.
set(stage ${OUTPUT_DIR}/release/${NAME})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})
set(files talliver-firmware.hex talliver-firmware.elf PINMAP.txt README.txt)
file(COPY_FILE ${HEX} ${stage}/talliver-firmware.hex)
file(COPY_FILE ${ELF} ${stage}/talliver-firmware.elf)
file(COPY_FILE ${PIN_MAP} ${stage}/PINMAP.txt)
file(COPY_FILE ${CMAKE_CURRENT_LIST_DIR}/README.txt ${stage}/README.txt)

set(sums "")
foreach(file IN LISTS files)
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")

file(REMOVE ${OUTPUT_DIR}/${NAME}.zip)
execute_process(
    COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/../cmake/write_zip.py ${OUTPUT_DIR}/${NAME}.zip
            ${files} SHA256SUMS
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT_DIR}/${NAME}.zip")
endif()
message(STATUS "${OUTPUT_DIR}/${NAME}.zip")
