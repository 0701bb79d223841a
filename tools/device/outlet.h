// The bytes for one side of the relay, written without ever waiting. What
// the side does not take at once is held, up to a limit, and beyond it
// dropped, as a UART's receiver loses what nobody reads in time; the relay
// meanwhile keeps the other direction moving. Paced, bytes leave no faster
// than a 9600 8O1 line carries them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "line_pace.h"

namespace device {

// What the tap and the conformance run hold for a side that does not take
// its bytes, before they drop the rest: about 4 s of a 9600-baud line.
const size_t HOLD_BYTES = 4096;

class Outlet {
 public:
  Outlet(size_t holdLimit, bool paced) : holdLimit_(holdLimit), paced_(paced) {}

  // Where the bytes go; -1 while nobody is there.
  void setFd(int fd) { fd_ = fd; }
  // Bytes to send from `ms` on: written at once as far as the side takes
  // them (and the pace allows), the rest held up to the limit. Returns how
  // many were taken; the rest, the newest, are dropped.
  size_t push(const std::vector<uint8_t> &bytes, double ms);
  // Writes what is due by `ms`; false when the side has gone (a write error).
  bool flush(double ms);
  // Forgets what is held (the side went away); returns those bytes.
  std::vector<uint8_t> discard();

  // The relay's poll: wait for the side to take bytes again, or for the
  // line's next byte (a time in ms, or a negative number for no wait).
  bool waitsForRoom() const { return stalled_ && !pending_.empty(); }
  double nextMs() const;

  size_t held() const { return pending_.size(); }
  long dropped() const { return dropped_; }
  // The side stopped taking bytes, or took them again, since the last call.
  enum Change { NONE, STOPPED, TAKING };
  Change change();

 private:
  size_t holdLimit_;
  bool paced_;
  int fd_ = -1;
  std::deque<uint8_t> pending_;
  LinePace pace_;
  long dropped_ = 0;
  bool stalled_ = false;   // the last write was refused for want of room
  bool reported_ = false;  // the stall has been reported
};

}  // namespace device
