#include "link/message.h"

#include "port/port.h"
#include "shared/state.h"

ReceiveBuffer receiveBuffer;

namespace {
const BYTE HEADER_BIT = 0x80;
const BYTE ONE_BYTE_FORM = 0x40;
}  // namespace

void sendMessage(int command, bool threeByte, int data1, int data2) {
  BYTE bytes[3];
  bytes[0] = (BYTE)((command << 2) | HEADER_BIT);
  if (threeByte) {
    // Data bytes travel as seven bits; their top bits ride in the header.
    bytes[1] = (BYTE)(data1 & 0x7F);
    bytes[2] = (BYTE)(data2 & 0x7F);
    bytes[0] |= (BYTE)(((data1 >> 7) & 1) | (((data2 >> 7) & 1) << 1));
  } else {
    bytes[0] |= ONE_BYTE_FORM;
  }
  // A failed write means the port is gone; a lost port takes nothing.
  if (portLost()) return;
  DWORD length = threeByte ? 3 : 1, written;
  if (!WriteFile(portHandle, bytes, length, &written, nullptr)) dropPort();
  noteWritten(length);
}

bool decodeStep(LinkMessage *message) {
  ReceiveBuffer &buffer = receiveBuffer;
  buffer.count++;
  bool oneByte = buffer.count == 1 && (buffer.slot[0] & ONE_BYTE_FORM);
  if (!oneByte && buffer.count != 3) return false;

  buffer.count = 0;
  BYTE header = buffer.slot[0];
  message->command = (header >> 2) & 0x0F;
  // The header bits are ORed in: a data byte received with bit 7 set keeps it.
  message->data1 = (BYTE)(buffer.slot[1] | ((header & 1) << 7));
  message->data2 = (BYTE)(buffer.slot[2] | (((header >> 1) & 1) << 7));
  return true;
}
