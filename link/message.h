// The byte format of the serial link, both directions.
//
// Header byte: bit 7 set as sent, bit 6 one-byte form, bits 5-2 command,
// bits 1 and 0 the high bits of data2 and data1 in the three-byte form.
#pragma once

#include <windows.h>

enum LinkCommand {
  CMD_KEY_STROKE = 1,
  CMD_MODIFIER_FLAGS = 2,
  CMD_QUERY_MODIFIERS = 3,
  CMD_SYS_KEY_STROKE = 4,
  CMD_IDENTIFY = 5,
  CMD_IDENTITY = 6,
  CMD_KEY_DONE = 15,
};

struct LinkMessage {
  int command;  // 0 to 15
  BYTE data1;
  BYTE data2;
};

// Three byte slots and how many of them hold the message being received.
// The slots are never cleared: a one-byte message reads its data from
// whatever the last three-byte message left there.
struct ReceiveBuffer {
  BYTE slot[3];
  int count;  // 0, 1 or 2 between bytes
};

extern ReceiveBuffer receiveBuffer;

// Writes one message to the port; data1 and data2 are ignored in the
// one-byte form.
void sendMessage(int command, bool threeByte, int data1, int data2);

// Takes the byte just read into receiveBuffer.slot[receiveBuffer.count].
// Returns true and fills *message when that byte completes a message.
bool decodeStep(LinkMessage *message);
