// The buttons' pins, as the pin map gives them.
#pragma once

#include <stdint.h>

// Inputs with their pull-ups on.
void buttons_start(void);
// True while the button's pin reads low: pressed.
uint8_t button_reads_down(uint8_t button);
