#include "key_queue.h"

uint8_t key_queue_push(struct key_queue *q, uint8_t button) {
  if (q->count == KEY_QUEUE_SIZE) return 0;
  q->buttons[(uint8_t)(q->first + q->count) % KEY_QUEUE_SIZE] = button;
  q->count++;
  return 1;
}

uint8_t key_queue_pop(struct key_queue *q, uint8_t *button) {
  if (q->count == 0) return 0;
  *button = q->buttons[q->first];
  q->first = (uint8_t)(q->first + 1) % KEY_QUEUE_SIZE;
  q->count--;
  return 1;
}
