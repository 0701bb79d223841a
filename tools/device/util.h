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
// The p-th fraction of the values by the nearest-rank rule; 0 when none.
double percentile(std::vector<double> values, double p);

// "   1234.5 -> 84 1E 41  key a": a transcript line, the time in ms.
std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what);

// Ctrl+C, SIGTERM and a closed terminal set stopSignal to the signal's
// number, and every wait of the tool looks at it; a closed pipe and a file
// grown past its limit show as write errors instead.
extern volatile sig_atomic_t stopSignal;
void catchSignals();

}  // namespace device
