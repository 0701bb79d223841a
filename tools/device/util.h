// What every part of the tool shares: exit codes and a run's outcome,
// strict number parsing, hex, the run's clock, and the stop signal.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace device {

using Bytes = std::vector<uint8_t>;

enum { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_NOT_GRADED = 3 };

// What a mode ends with: its exit code and, unless it passed, why (one line
// a reason). main prints the reasons; a usage error also points at --help.
struct Outcome {
  int code = EXIT_PASSED;
  std::string why;
};
inline Outcome usage(const std::string &why) { return {EXIT_USAGE, why}; }
inline Outcome failure(const std::string &why) { return {EXIT_FAILED, why}; }

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

// The whole text is the number: "5x", " 5", "+5" and "" are not numbers.
bool parseWhole(const std::string &text, long min, long max, long *value);
// Bytes in hex separated by blanks, "84 1E" or "0x84", at least one.
bool parseHexBytes(const std::string &text, Bytes *bytes);
std::string hex(const Bytes &bytes);  // "84 1E 41"

// Microseconds since the tool started: every time a run prints or records.
int64_t nowUs();
// The time of one input to a run's view: the clock, never the same twice, so
// that a record's inputs sort back into the order the run took them.
int64_t stampUs();
// Latencies, kept as counts of each tenth of a millisecond up to 10 s (and
// one count for all beyond), with the largest exactly: memory that does not
// grow with the run, and percentiles as exact as the 0.1 ms they print to.
class Latencies {
 public:
  Latencies() : tenths_(LIMIT_TENTHS + 1) {}
  void add(int64_t us);
  long count() const { return count_; }
  // The p-th fraction by the nearest-rank rule, "12.3 ms" ("0.0 ms" when
  // there are none, "over 10 s" beyond); the largest to 0.1 ms.
  std::string percentile(double p) const;
  std::string largest() const;

 private:
  static const size_t LIMIT_TENTHS = 100000;
  std::vector<uint32_t> tenths_;  // the last: all beyond the limit
  long count_ = 0;
  int64_t largestUs_ = 0;
};

// "   1234.5 -> 84 1E 41  key a": a transcript line, the time in ms.
std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what);

// Ctrl+C, SIGTERM and a closed terminal set stopSignal to the signal's
// number, and every wait of the tool looks at it; a closed pipe and a file
// grown past its limit show as write errors instead.
extern volatile sig_atomic_t stopSignal;
void catchSignals();

}  // namespace device
