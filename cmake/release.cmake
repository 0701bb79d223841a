# Packs the release archive; run by the "release" target of a Windows build:
#   cmake -DEXECUTABLE=... -DVERSION=3.0.0.0 -DPLATFORM=win32 -DSOURCE_DIR=...
#         -DOUTPUT_DIR=... -P release.cmake
# The archive holds qelmo.exe, README.txt (CR LF line ends, for Notepad) and
# SHA256SUMS. Fixed file times and a fixed order make it reproducible.
set(name talliver-${VERSION}-${PLATFORM})
set(stage ${OUTPUT_DIR}/release/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})

file(COPY_FILE ${EXECUTABLE} ${stage}/qelmo.exe)
configure_file(${SOURCE_DIR}/docs/README.txt.in ${stage}/README.txt @ONLY NEWLINE_STYLE CRLF)

set(sums "")
foreach(file qelmo.exe README.txt)
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")

file(REMOVE ${OUTPUT_DIR}/${name}.zip)
execute_process(
    COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT_DIR}/${name}.zip --format=zip
            "--mtime=2000-01-01 00:00:00 UTC" qelmo.exe README.txt SHA256SUMS
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT_DIR}/${name}.zip")
endif()
message(STATUS "${OUTPUT_DIR}/${name}.zip")
