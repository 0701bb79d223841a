// The device's end of a pty at 9600 8O1's pace, in a thread of its own: what
// the device sends goes out no faster than the line carries it, and the
// program's output is taken at the line's pace, as a UART drains it, whether
// or not the device reads it yet. What the program writes beyond that waits
// in the pty, where the program's writes then wait too.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "line_pace.h"

namespace device {

class PacedPump {
 public:
  explicit PacedPump(int masterFd);
  ~PacedPump();
  PacedPump(const PacedPump &) = delete;
  PacedPump &operator=(const PacedPump &) = delete;

  // Queues the bytes to go out at the line's pace; never waits.
  void send(const std::vector<uint8_t> &bytes);
  // Queues what the line takes now (a few bytes ahead at most); returns how many.
  size_t trySend(const std::vector<uint8_t> &bytes);
  // What has crossed from the program, waiting at most until the deadline.
  std::vector<uint8_t> receive(std::chrono::steady_clock::time_point deadline);
  // The most bytes seen waiting in the program's output at once.
  size_t mostWaiting() const;

 private:
  void run();
  double nowMs() const;
  void wake();

  int master_;
  int wakeFd_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mutable std::mutex mutex_;
  std::condition_variable received_;
  std::deque<uint8_t> out_, in_;
  LinePace outPace_, inPace_;
  size_t mostWaiting_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace device
