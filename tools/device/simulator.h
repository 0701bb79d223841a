// The simulated device's end of the line: the program's COM port (a fresh
// pty), the bytes sent to it (at 9600 8O1's pace with --line-rate), and its
// answers, read (at the same pace), decoded and printed a line a message.
// Every wait runs the tool's loop, which also keeps standard output moving
// and ends when a signal asks the run to stop.
#pragma once

#include <deque>

#include "line.h"

namespace device {

struct Simulator {
  Simulator(ProgramPort &port, Transcript &out, bool paced, long timeoutMs);

  // Runs until `done` holds (true), or the deadline passes or a signal asks
  // the run to stop (false). `alsoFd`: a descriptor `done` reads, polled too.
  bool waitUntil(
      int64_t deadlineUs, const std::function<bool()> &done = [] { return false; },
      int alsoFd = -1);
  void send(const Bytes &bytes, const std::string &what);
  void forget();  // what came so far answers nothing sent after this
  // The first message with this command; those before it are passed over.
  bool await(int command, long timeoutMs, Message *found = nullptr);

  // Each returns why it failed, or "".
  std::string identify(long timeoutMs);
  std::string keystroke(int command, const Key &key, const std::string &label);
  std::string setFlags(int flags);
  std::string readFlags(int *flags);
  std::string drain();  // waits until the program has taken every byte sent

  ProgramPort &port;
  Transcript &out;
  Line line;
  long timeoutMs;
  bool quiet = false;
  std::deque<Message> received;  // not yet passed over by a wait
  // When each FC came (ms since the start), how many a check has accounted
  // for, and the keystrokes sent and acknowledged.
  std::vector<double> fcMs;
  size_t fcsChecked = 0;
  int keysSent = 0, keysAcked = 0;
  Decoder decoder;
  int64_t startUs = nowUs();
};

}  // namespace device
