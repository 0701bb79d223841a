#include "key_queue.h"

void key_queue_push(struct key_queue *q, uint8_t button, uint16_t at) {
  if (q->count == KEY_QUEUE_SIZE) return;
  struct press *p = &q->presses[(uint8_t)(q->first + q->count) % KEY_QUEUE_SIZE];
  p->button = button;
  p->at = at;
  q->count++;
}

const struct press *key_queue_first(const struct key_queue *q) {
  return q->count ? &q->presses[q->first] : 0;
}

void key_queue_drop(struct key_queue *q) {
  if (q->count == 0) return;
  q->first = (uint8_t)(q->first + 1) % KEY_QUEUE_SIZE;
  q->count--;
}
