// Button debouncing: a button counts as pressed, or released, once it has
// read the same for DEBOUNCE_MS samples in a row, taken once a millisecond.
// A contact's bounces and short spikes therefore type nothing.
#pragma once

#include <stdint.h>

#include "keys.h"

#ifdef __cplusplus
extern "C" {
#endif

#define DEBOUNCE_MS 20

struct debounce {
  // A button each: bit 7 set while it is down, as debounced; below it, the
  // samples in a row that read otherwise.
  uint8_t buttons[BUTTON_COUNT];
};

// Takes one sample of a button (`down`: its pin reads pressed); returns 1
// when the button has just become pressed.
uint8_t debounce_sample(struct debounce *d, uint8_t button, uint8_t down);

#ifdef __cplusplus
}
#endif
