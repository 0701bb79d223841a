#include "marked_bytes.h"

namespace device {

void MarkedBytes::feed(uint8_t byte, std::vector<LineByte> *out) {
  switch (marked_) {
    case 0:
      if (byte == 0xFF)
        marked_ = 1;
      else
        out->push_back({LineByte::DATA, byte});
      return;
    case 1:
      if (byte == 0x00) {
        marked_ = 2;
        return;
      }
      marked_ = 0;
      out->push_back({LineByte::DATA, 0xFF});
      // FF FF is one data byte FF. Anything else after FF is no mark the
      // driver makes: FF was a plain byte, and this one starts afresh.
      if (byte != 0xFF) feed(byte, out);
      return;
    default: marked_ = 0; out->push_back({byte == 0x00 ? LineByte::BREAK : LineByte::BAD, byte});
  }
}

std::vector<uint8_t> lineData(const std::vector<LineByte> &bytes) {
  std::vector<uint8_t> data;
  for (const LineByte &b : bytes) data.push_back(b.byte);
  return data;
}

}  // namespace device
