# Packs the release archive; run by the "release" target of a Windows build:
#   cmake -DEXECUTABLE=... -DVERSION=3.0.0.0 -DPLATFORM=win32 -DSOURCE_DIR=...
#         -DOUTPUT_DIR=... -P release.cmake
# The archive holds qelmo.exe, README.txt (CR LF line ends, for Notepad) and
# SHA256SUMS. Fixed file times and modes and a fixed order make it
# reproducible (cmake/write_zip.py).
# README.txt is docs/using.md, the Windows users' page, under a title that
# names the version and the platform: one text, so the two cannot drift.
set(name talliver-${VERSION}-${PLATFORM})
set(stage ${OUTPUT_DIR}/release/${name})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${stage})

file(COPY_FILE ${EXECUTABLE} ${stage}/qelmo.exe)
file(READ ${SOURCE_DIR}/docs/using.md page)
string(REGEX REPLACE "^[^\n]*\n=+\n" "" body "${page}")
set(title "TALLIVER ${VERSION} for Windows (${PLATFORM})")
string(LENGTH "${title}" title_length)
string(REPEAT "=" ${title_length} underline)
string(REPLACE "\n" "\r\n" readme "${title}\n${underline}\n${body}")
file(WRITE ${stage}/README.txt "${readme}")

set(sums "")
foreach(file qelmo.exe README.txt)
  file(SHA256 ${stage}/${file} hash)
  string(APPEND sums "${hash}  ${file}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")

file(REMOVE ${OUTPUT_DIR}/${name}.zip)
execute_process(
    COMMAND python3 ${SOURCE_DIR}/cmake/write_zip.py ${OUTPUT_DIR}/${name}.zip
            qelmo.exe README.txt SHA256SUMS
    WORKING_DIRECTORY ${stage}
    RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not write ${OUTPUT_DIR}/${name}.zip")
endif()
message(STATUS "${OUTPUT_DIR}/${name}.zip")
