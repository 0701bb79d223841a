// The link's messages as the device encodes and decodes them: table rows of
// bytes in, messages out.
#include <gtest/gtest.h>

#include "hex.h"

#include <string>
#include <vector>

#include "messages.h"

namespace {

TEST(MessagesTest, EncodesHighBitsIntoTheHeader) {
  struct Row {
    uint8_t command, data1, data2;
    const char *bytes;
  } rows[] = {
      {CMD_KEY_STROKE, 0x33, 0xBC, "86 33 3C"},  // the comma key's virtual-key code
      {CMD_KEY_STROKE, 0xE0, 0x80, "87 60 00"},
      {CMD_MODIFIER_FLAGS, 0, 0xA3, "8A 00 23"},  // Insert on
  };
  for (const Row &r : rows) {
    uint8_t out[3];
    encode_message(r.command, r.data1, r.data2, out);
    EXPECT_EQ(hex({out[0], out[1], out[2]}), r.bytes) << "command " << int(r.command);
  }
}

// Each message decoded from a stream, as "command data1 data2" in hex, with
// "/1" for the one-byte form.
std::string decodeAll(const std::vector<uint8_t> &stream) {
  decoder d = {};
  std::string out;
  for (uint8_t byte : stream) {
    message m;
    if (!decode_byte(&d, byte, &m)) continue;
    char text[20];
    std::snprintf(text, sizeof text, "%s%d %02X %02X%s", out.empty() ? "" : ", ", m.command,
                  m.data1, m.data2, m.three_byte ? "" : "/1");
    out += text;
  }
  return out;
}

TEST(MessagesTest, DecodesWhatTheProgramSendsAndFindsHeadersAgain) {
  struct Row {
    const char *what;
    std::vector<uint8_t> stream;
    const char *messages;
  } rows[] = {
      {"flags with Insert", {0x8A, 0x00, 0x23}, "2 00 A3"},
      {"echo of the comma key", {0x86, 0x33, 0x3C}, "1 33 BC"},
      {"FC among an answer's bytes", {0x88, 0x00, 0xFC, 0x98, 0x02, 0x22}, "15 00 00/1, 6 02 22"},
      {"data bytes with no header", {0x1E, 0x41, 0xFC}, "15 00 00/1"},
      {"a header cut short", {0x84, 0x1E, 0x98, 0x02, 0x22}, "6 02 22"},
  };
  for (const Row &r : rows) EXPECT_EQ(decodeAll(r.stream), r.messages) << r.what;
}

}  // namespace
