// A millisecond clock from Timer0, whose interrupt also wakes the chip from
// its idle sleep once a millisecond.
#pragma once

#include <stdint.h>

void clock_start(void);
uint16_t clock_now(void);
// True when the clock has moved on from `then`; call with interrupts off.
uint8_t clock_moved_from(uint16_t then);
