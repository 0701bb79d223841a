// The link's messages, seen from the device. A message is a header byte
// alone or a header and two data bytes. The header has bit 7 set, bit 6 set
// for the one-byte form, and the command in bits 5-2; bits 1 and 0 carry
// bit 7 of the two data values, whose low seven bits travel in the data
// bytes. The program sends whole messages, headers with bit 7 set and data
// bytes with it clear, so a byte's bit 7 alone says which it is.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum {
  CMD_KEY_STROKE = 1,
  CMD_MODIFIER_FLAGS = 2,
  CMD_QUERY_MODIFIERS = 3,
  CMD_SYS_KEY_STROKE = 4,
  CMD_IDENTIFY = 5,
  CMD_IDENTITY = 6,
  CMD_KEY_DONE = 15
};

// The identity the program answers an identify with: 98 02 22.
enum { IDENTITY_DATA1 = 2, IDENTITY_DATA2 = 34 };

// The one-byte form of a command: CC for the query, D4 for identify.
#define ONE_BYTE_MESSAGE(command) ((uint8_t)(0xC0 | (command) << 2))

// Writes the three bytes of a three-byte message to out.
void encode_message(uint8_t command, uint8_t data1, uint8_t data2, uint8_t out[3]);

struct message {
  uint8_t command, data1, data2;
  uint8_t three_byte;  // 0 for the one-byte form, whose data are 0
};

struct decoder {
  uint8_t header, data1;
  uint8_t count;  // bytes of the message so far; 0 between messages
};

// Takes one received byte; returns 1 when it completes a message, written
// to *m. A header starts a new message even when the one before it is
// unfinished (bytes lost on the line, a cable plugged in mid-message), and
// a data byte where a header belongs is dropped, so the decoder finds the
// messages again at the next header.
uint8_t decode_byte(struct decoder *d, uint8_t byte, struct message *m);

#ifdef __cplusplus
}
#endif
