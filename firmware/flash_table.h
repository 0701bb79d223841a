// Constant tables live in flash on the AVR, where reading a byte of one
// takes an instruction of its own, and in ordinary memory elsewhere (the
// unit tests). Keeping them out of RAM matters: the chip has 2 KB of it.
#pragma once

#include <stdint.h>

#ifdef __AVR__
#include <avr/pgmspace.h>
#define FLASH_TABLE PROGMEM
#define read_table_byte(address) pgm_read_byte(address)
#else
#define FLASH_TABLE
#define read_table_byte(address) (*(const uint8_t *)(address))
#endif
