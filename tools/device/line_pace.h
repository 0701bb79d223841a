// The pace of a serial line at 9600 baud, 8O1: a start bit, 8 data bits, a
// parity bit and a stop bit, 11 bits a byte, so one byte every 1.146 ms. A
// byte has crossed the line one byte-time after it began; a line with bytes
// waiting sends the next as soon as the last has crossed; an idle line does
// not save up time.
#pragma once

#include <cstddef>

namespace device {

const double LINE_BYTE_MS = 11 * 1000.0 / 9600;

class LinePace {
 public:
  // Bytes are waiting from `ms` on; an idle line starts on them then.
  void waiting(double ms);
  // How many of `count` waiting bytes have crossed by `ms`.
  size_t crossed(double ms, size_t count) const;
  // `count` bytes taken off the line; `left` still wait (0: the line idles).
  void taken(size_t count, size_t left);
  // When the next waiting byte will have crossed.
  double nextMs() const { return startMs_ + LINE_BYTE_MS; }
  bool idle() const { return idle_; }

 private:
  double startMs_ = 0;  // when the next byte began, or may begin
  bool idle_ = true;
};

}  // namespace device
