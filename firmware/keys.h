// The key each button types, from the pin map.
#pragma once

#include <stdint.h>

#include "pin_map.h"

#ifdef __cplusplus
extern "C" {
#endif

// A key's modifiers, as the held bits of the flags byte: both Shift bits,
// since the program drives its one Shift key from each bit separately.
#define SHIFT 0x03
#define CTRL 0x04
#define ALT 0x08

#define COUNT_BUTTON(port, bit, scan, vk, modifiers, name) +1
enum { BUTTON_COUNT = 0 PIN_MAP(COUNT_BUTTON) };

struct key {
  uint8_t scan, vk;
  uint8_t modifiers;  // SHIFT, CTRL and ALT bits
};

void key_of_button(uint8_t button, struct key *key);

#ifdef __cplusplus
}
#endif
