#include "debounce.h"

#define DOWN 0x80

uint8_t debounce_sample(struct debounce *d, uint8_t button, uint8_t down) {
  uint8_t state = d->buttons[button];
  if (!down == !(state & DOWN)) {
    d->buttons[button] = state & DOWN;
    return 0;
  }
  if ((++state & ~DOWN) < DEBOUNCE_MS) {
    d->buttons[button] = state;
    return 0;
  }
  d->buttons[button] = down ? DOWN : 0;
  return down != 0;
}
