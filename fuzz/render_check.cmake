# cmake -DCOMMAND="xm-render" -DMODULE=in.xm -P render_check.cmake
# Renders 2 s of the module to hostile.wav and fails unless xm-render ends with 0 and the file
# holds exactly 88,200 stereo 16-bit frames after its 44-byte header, whose RIFF size (bytes
# 4..7, little-endian) and data size (bytes 40..43) say so.
set(dataBytes 352800)
file(REMOVE hostile.wav)
execute_process(COMMAND ${COMMAND} --seconds 2 ${MODULE} hostile.wav RESULT_VARIABLE code ERROR_VARIABLE err)
if(NOT code STREQUAL "0" OR NOT EXISTS hostile.wav)
  message(FATAL_ERROR "xm-render: exit code ${code}, stderr: ${err}")
endif()
file(SIZE hostile.wav size)
function(read_le32 offset out)
  file(READ hostile.wav hex OFFSET ${offset} LIMIT 4 HEX)
  string(REGEX REPLACE "^(..)(..)(..)(..)$" "0x\\4\\3\\2\\1" hex "${hex}")
  math(EXPR value "${hex}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()
read_le32(4 riff)
read_le32(40 data)
math(EXPR wantSize "44 + ${dataBytes}")
math(EXPR wantRiff "36 + ${dataBytes}")
if(NOT size EQUAL wantSize OR NOT riff EQUAL wantRiff OR NOT data EQUAL dataBytes)
  message(FATAL_ERROR "WAV of ${size} bytes, RIFF size ${riff}, data size ${data}; expected ${wantSize}, ${wantRiff}, ${dataBytes}")
endif()
