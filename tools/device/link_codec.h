// The link format from the device's side: building messages, decoding the
// program's replies, and the keys a device can name.
// Written apart from the program's own encoder and decoder on purpose, so
// that the device side is an independent check of the format.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace device {

enum Command {
  KEY_STROKE = 1,
  MODIFIER_FLAGS = 2,
  QUERY_MODIFIERS = 3,
  SYS_KEY_STROKE = 4,
  IDENTIFY = 5,
  IDENTITY = 6,
  KEY_DONE = 15,
};

// What the program answers to the identify request.
const int IDENTITY_DATA1 = 2, IDENTITY_DATA2 = 34;

struct Message {
  int command = 0;
  uint8_t data1 = 0, data2 = 0;
  std::vector<uint8_t> bytes;  // as received
};

std::vector<uint8_t> encode(int command, bool threeByte, int data1 = 0, int data2 = 0);

// Decodes a byte stream one byte at a time, as the program does.
class Decoder {
 public:
  std::optional<Message> feed(uint8_t byte);

 private:
  uint8_t slot_[3] = {0, 0, 0};
  int count_ = 0;
};

std::string hex(const std::vector<uint8_t> &bytes);
// What a message from the program means ("key done", "identity 2, 34").
std::string describe(const Message &message);
// What a message from the device asks for, in the simulator's words ("key a",
// "set flags 0x40 (Caps)", "query flags").
std::string describeRequest(const Message &message);

struct Key {
  uint8_t vk, scan;
  bool shifted;  // the character needs Shift held
};
// A key by name ("a", "F4", "enter", "0x41:0x1E"), or a character to type.
std::optional<Key> keyNamed(const std::string &name);
std::optional<Key> keyForChar(char c);
// The key's name, or "0xVK:0xSCAN" for a key with none.
std::string keyLabel(uint8_t vk, uint8_t scan);

}  // namespace device
