// The messages on the serial line, from the device's side: building them,
// splitting a byte stream into them as the program does, and saying what
// they mean. Written apart from the program's own
// encoder and decoder on purpose, so that it checks the format independently.
#pragma once

#include <optional>

#include "text.h"

namespace device {

enum Command {
  KEY_STROKE = 1,
  MODIFIER_FLAGS = 2,
  QUERY_FLAGS = 3,
  SYS_KEY_STROKE = 4,
  IDENTIFY = 5,
  IDENTITY = 6,
  KEY_DONE = 15,
};
const int IDENTITY_DATA1 = 2, IDENTITY_DATA2 = 34;

// 9600 8O1 carries 11 bits a byte; the program polls every 200 ms.
const double LINE_BYTE_US = 11e6 / 9600;
const int64_t TICK_US = 200000;

struct Message {
  int command = 0;
  uint8_t data1 = 0, data2 = 0;
  Bytes bytes;  // as they came
};
inline bool isKeystroke(int command) { return command == KEY_STROKE || command == SYS_KEY_STROKE; }

Bytes encode(int command, bool threeByte, int data1 = 0, int data2 = 0);

// Takes a byte stream a byte at a time: the first byte after a message is a
// header, whatever its value, as the program takes it.
struct Decoder {
  uint8_t slot[3] = {0, 0, 0};
  int count = 0;
  std::optional<Message> feed(uint8_t byte);
};

// What a message means: from the device, what it asks for ("key a", "query
// flags"); from the program, what it says ("key done", "identity 2, 34").
std::string describe(const Message &message, bool fromDevice);

}  // namespace device
