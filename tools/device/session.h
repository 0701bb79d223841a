// The device's side of a conversation with the program over the serial
// line: sending messages, reading and decoding the answers, and printing
// both, one line a message.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "link_codec.h"
#include "pty_line.h"

namespace device {

using Clock = std::chrono::steady_clock;

struct Session {
  PtyLine *line = nullptr;
  Decoder decoder;
  std::vector<Message> pending;  // received, not yet consumed by a wait
  int answerTimeoutMs = 3000;
  bool quiet = false;  // receive without printing (floods)
  Clock::time_point start = Clock::now();
  // For the script's checks: when each FC arrived (ms since the start), how
  // many of them a check has accounted for, and the keystrokes sent by
  // `keystroke` and how many of those got their FC.
  std::vector<double> fcTimes;
  size_t fcsChecked = 0;
  int keystrokesSent = 0, keystrokesAcknowledged = 0;
};

double msSince(Clock::time_point t);

// A run's clock, in milliseconds to the whole microsecond, as a record keeps
// times: grading a record again then computes exactly what the run did.
struct RunClock {
  Clock::time_point start = Clock::now();
  double ms() const;
};

// One transcript line: "  1234.5 -> 84 1E 41  key a".
std::string transcriptLine(double ms, const char *arrow, const std::string &bytes,
                           const std::string &what);

// Prints the reason to standard error; returns false, for `return ok || fail(...)`.
bool fail(const std::string &why);

void send(Session &s, const std::vector<uint8_t> &bytes, const std::string &what);
// Reads until the deadline, printing and queueing every complete message.
void receiveUntil(Session &s, Clock::time_point deadline);
// Drops whatever arrived so far: it is not the answer to what comes next
// (the key monitor, for one, reports flag changes with the query's reply).
void forgetReceived(Session &s);
// Waits for a message with the given command; earlier ones are dropped
// (the program's key monitor echoes keys it receives itself).
bool awaitCommand(Session &s, int command, int timeoutMs, Message *found = nullptr);

// The identify request, waiting for the identity reply; fails when it does
// not come or carries other values than the program's.
bool requestIdentity(Session &s, int timeoutMs);
// One keystroke, waiting for its FC.
bool keystroke(Session &s, int command, const Key &key, const std::string &label);
void setFlags(Session &s, int flags);
bool queryFlags(Session &s, Message *reply);

// Microseconds on the host's raw monotonic clock: the clock Wine's
// QueryPerformanceCounter reads, so a Windows program's arrival times can be
// set against the device's write times.
long long rawMicroseconds();

// The p-th fraction of the values by the nearest-rank rule; 0 when none.
double percentile(std::vector<double> values, double p);

}  // namespace device
