// The presses that wait for their turn: a keystroke goes out only when the
// one before it has been answered, and a person presses faster than that.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Five keystrokes a second is the program's pace, so this holds more than
// six seconds of the fastest pressing.
#define KEY_QUEUE_SIZE 32

struct press {
  uint8_t button;
  uint16_t at;  // when it was pressed, on the millisecond clock
};

struct key_queue {
  struct press presses[KEY_QUEUE_SIZE];
  uint8_t first, count;
};

// Keeps the presses already waiting, and drops this one, when the queue is full.
void key_queue_push(struct key_queue *q, uint8_t button, uint16_t at);
// The oldest press, or 0 when nothing waits; it stays until key_queue_drop.
const struct press *key_queue_first(const struct key_queue *q);
void key_queue_drop(struct key_queue *q);

#ifdef __cplusplus
}
#endif
