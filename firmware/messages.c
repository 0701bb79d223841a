#include "messages.h"

void encode_message(uint8_t command, uint8_t data1, uint8_t data2, uint8_t out[3]) {
  out[0] = (uint8_t)(0x80 | command << 2 | data1 >> 7 | (data2 >> 7) << 1);
  out[1] = data1 & 0x7F;
  out[2] = data2 & 0x7F;
}

uint8_t decode_byte(struct decoder *d, uint8_t byte, struct message *m) {
  if (byte & 0x80) {
    m->command = (byte >> 2) & 0x0F;
    if (byte & 0x40) {
      d->count = 0;
      m->data1 = m->data2 = m->three_byte = 0;
      return 1;
    }
    d->header = byte;
    d->count = 1;
    return 0;
  }
  if (d->count == 0) return 0;
  if (d->count == 1) {
    d->data1 = byte;
    d->count = 2;
    return 0;
  }
  d->count = 0;
  m->command = (d->header >> 2) & 0x0F;
  m->data1 = (uint8_t)(d->data1 | (d->header & 1) << 7);
  m->data2 = (uint8_t)(byte | (d->header & 2) << 6);
  m->three_byte = 1;
  return 1;
}
