// The key each button types, from the pin map.
#pragma once

#include <stdint.h>

#include "pin_map.h"

#ifdef __cplusplus
extern "C" {
#endif

#define COUNT_BUTTON(port, bit, scan, vk, shifted, name) +1
enum { BUTTON_COUNT = 0 PIN_MAP(COUNT_BUTTON) };

struct key {
  uint8_t scan, vk;
  uint8_t shifted;  // typed with Shift held
};

void key_of_button(uint8_t button, struct key *key);

#ifdef __cplusplus
}
#endif
