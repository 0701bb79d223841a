// Undoing the serial driver's marking of line errors: what a port set to
// INPCK with PARMRK delivers, and what the line carried.
#include "marked_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using device::LineByte;

// "41" a data byte, "!41" a byte with a parity or framing error, "BRK00" a
// break and the byte it is relayed as.
std::vector<std::string> parse(const std::vector<uint8_t> &marked) {
  device::MarkedBytes parser;
  std::vector<LineByte> out;
  for (uint8_t b : marked) parser.feed(b, &out);  // a byte at a time: marks split across reads
  std::vector<std::string> text;
  for (const LineByte &b : out) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b.byte);
    text.push_back((b.kind == LineByte::BREAK ? "BRK"
                    : b.kind == LineByte::BAD ? "!"
                                              : "") +
                   std::string(hex));
  }
  return text;
}

TEST(MarkedBytesTest, UndoesTheDriversMarking) {
  struct Row {
    const char *what;
    std::vector<uint8_t> marked;
    std::vector<std::string> carried;
  };
  const Row rows[] = {
      {"plain bytes", {0x84, 0x1E, 0x41}, {"84", "1E", "41"}},
      {"a data FF comes doubled", {0x84, 0xFF, 0xFF, 0xFF, 0xFF}, {"84", "FF", "FF"}},
      {"a parity or framing error", {0x84, 0xFF, 0x00, 0x9E, 0x41}, {"84", "!9E", "41"}},
      {"an error on a byte FF", {0xFF, 0x00, 0xFF}, {"!FF"}},
      {"a break, relayed as 00", {0xFF, 0x00, 0x00, 0xD4}, {"BRK00", "D4"}},
      {"a zero byte is data", {0x00, 0x00}, {"00", "00"}},
      {"FF then a byte no mark has: both plain", {0xFF, 0x41}, {"FF", "41"}},
      {"a mark not yet finished says nothing", {0x84, 0xFF, 0x00}, {"84"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(parse(row.marked), row.carried);
  }
}

}  // namespace
