# Prints the firmware's flash and RAM use against the goals; with -DCHECK=ON
# fails when either is over its goal.
#   cmake -DELF=talliver-firmware.elf -DSIZE=avr-size [-DCHECK=ON] -P sizes.cmake
# Flash is the code and the initial values of variables; RAM the variables
# (.data and .bss). The stack comes on top of that, at run time.
set(FLASH_GOAL 2048)
set(RAM_GOAL 256)
execute_process(COMMAND ${SIZE} -A ${ELF} OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${SIZE} -A ${ELF} failed")
endif()
foreach(section text data bss)
  set(${section} 0)
  if(sections MATCHES "\n\\.${section} +([0-9]+)")
    set(${section} ${CMAKE_MATCH_1})
  endif()
endforeach()
math(EXPR flash "${text} + ${data}")
math(EXPR ram "${data} + ${bss}")
get_filename_component(name ${ELF} NAME)
message("${name}: flash ${flash} bytes (goal ${FLASH_GOAL}), RAM ${ram} bytes "
        "(goal ${RAM_GOAL}), of the ATmega328P's 32768 and 2048")
if(CHECK AND (flash GREATER FLASH_GOAL OR ram GREATER RAM_GOAL))
  message(FATAL_ERROR "${name} is over its size goal")
endif()
