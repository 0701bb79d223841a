# Writes the pin map as text, from the rows of pin_map.h: what a builder
# wires, and the names the simulator takes for its buttons.
#   cmake -DPIN_MAP=pin_map.h -DOUTPUT=PINMAP.txt -P pin_map.cmake
set(row_pattern
    "BUTTON\\(([BCD]), *([0-7]), *0x([0-9A-Fa-f][0-9A-Fa-f]), *0x([0-9A-Fa-f][0-9A-Fa-f]), *([A-Z0| ]+), *([A-Za-z0-9_]+)\\)")
file(READ ${PIN_MAP} source)
string(REGEX MATCHALL "${row_pattern}" rows "${source}")
set(text [[
TALLIVER reference firmware: the pin map (ATmega328P at 16 MHz)

Each button joins its pin to ground while pressed; the pin's internal
pull-up holds it high otherwise. The serial line: PD0 (RXD) takes the
PC's bytes, PD1 (TXD) sends the device's, at 9600 baud, 8 data bits, odd
parity, 1 stop bit. "board" is the pin's label on an Arduino Uno or Nano;
scan and vk are the key's scan code and virtual-key code, in hex; mods
the modifiers it is typed with: shift for the character as written with
Shift (a letter comes in that case whatever Caps Lock is), ctrl and alt
for a chord.

pin  board  name      scan  vk  mods
]])
set(count 0)
foreach(row IN LISTS rows)
  string(REGEX MATCH "${row_pattern}" row "${row}")
  set(port ${CMAKE_MATCH_1})
  set(bit ${CMAKE_MATCH_2})
  if(port STREQUAL "D")
    set(board "D${bit}")
  elseif(port STREQUAL "B")
    math(EXPR digital "8 + ${bit}")
    set(board "D${digital}")
  else()
    set(board "A${bit}")
  endif()
  string(TOUPPER "${CMAKE_MATCH_3}" scan)
  string(TOUPPER "${CMAKE_MATCH_4}" vk)
  set(name "${CMAKE_MATCH_6}")
  # "CTRL | SHIFT" as "ctrl+shift"; 0 as "-".
  string(REGEX REPLACE " *\\| *" "+" mods "${CMAKE_MATCH_5}")
  string(TOLOWER "${mods}" mods)
  if(mods STREQUAL "0")
    set(mods -)
  endif()
  # Columns by fixed widths: pin 5, board 7, name 10.
  string(SUBSTRING "P${port}${bit}     " 0 5 pin_column)
  string(SUBSTRING "${board}       " 0 7 board_column)
  string(SUBSTRING "${name}          " 0 10 name_column)
  string(APPEND text "${pin_column}${board_column}${name_column}${scan}    ${vk}  ${mods}\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${PIN_MAP}: no button rows found")
endif()
file(WRITE ${OUTPUT} "${text}")
