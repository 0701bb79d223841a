// Bytes from a serial port whose driver marks line errors (termios INPCK
// with PARMRK): a byte received with a parity or framing error arrives as
// FF 00 X, a break as FF 00 00, and a data byte FF as FF FF. The parser
// undoes the marking, a byte at a time (a mark may be split across reads),
// and says which bytes came with an error.
#pragma once

#include <cstdint>
#include <vector>

namespace device {

struct LineByte {
  enum Kind { DATA, BAD, BREAK } kind;
  // The byte as the line carried it: for BAD the byte received, for BREAK
  // 00, which is what an unmarked raw port delivers for a break.
  uint8_t byte;
};

// The bytes as the line carried them, errors or not: what is relayed.
std::vector<uint8_t> lineData(const std::vector<LineByte> &bytes);

class MarkedBytes {
 public:
  void feed(uint8_t byte, std::vector<LineByte> *out);

 private:
  int marked_ = 0;  // bytes of a mark seen so far: 0, 1 (FF) or 2 (FF 00)
};

}  // namespace device
