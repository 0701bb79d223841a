// The presses that wait for their turn: a keystroke goes out only when the
// one before it has been answered, and a person presses faster than that.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Five keystrokes a second is the program's pace, so this holds more than
// six seconds of the fastest pressing, or the presses of a program's start.
#define KEY_QUEUE_SIZE 32

struct key_queue {
  uint8_t buttons[KEY_QUEUE_SIZE];
  uint8_t first, count;
};

// Returns 0, and keeps the presses already waiting, when the queue is full.
uint8_t key_queue_push(struct key_queue *q, uint8_t button);
// Returns 0 when nothing waits.
uint8_t key_queue_pop(struct key_queue *q, uint8_t *button);

#ifdef __cplusplus
}
#endif
