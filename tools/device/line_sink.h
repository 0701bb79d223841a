// Text lines written to a file descriptor (standard output, a log, a
// record) by a thread of their own, so that a reader who stops reading (a
// paused pager, a stopped terminal) never holds up the relay. Up to a limit
// the lines wait; beyond it they are dropped, and once the reader takes
// lines again one line says how many were lost.
#pragma once

#include <memory>
#include <string>

namespace device {

class LineSink {
 public:
  // `closeWhenDone`: the descriptor is this sink's (a file it opened).
  // `waits`: for a tool whose output is its result (grade), which has
  // nothing else to keep moving: a slow reader makes `line` and the end
  // wait rather than lose lines.
  LineSink(int fd, bool closeWhenDone, bool waits = false);
  // Waits up to LINGER_MS for the waiting lines to be written, then gives up
  // on them, so that a reader who never reads cannot hold up the end.
  ~LineSink();
  LineSink(const LineSink &) = delete;
  LineSink &operator=(const LineSink &) = delete;

  void line(const std::string &text);

  static constexpr size_t HOLD_BYTES = 1 << 20;
  static constexpr int LINGER_MS = 500;

  // What the sink shares with its writing thread.
  struct Shared;

 private:
  std::shared_ptr<Shared> shared_;
};

}  // namespace device
