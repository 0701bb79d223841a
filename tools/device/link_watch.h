// Watching a conversation on the link from outside: both byte streams split
// into messages as the program's decoder splits them, each with the times of
// its first and last byte, and the device's side checked against the link's
// rules. Times are given by the caller, so the checks can be tested without
// waiting.
#pragma once

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "link_codec.h"

namespace device {

enum class Side { Device, Program };

// What the device must not do, and what it does at its peril.
enum class Rule {
  KeyBeforeFc,     // a keystroke before the program's FC for the previous one
  HeaderBit7,      // a message's first byte with bit 7 clear
  DataBit7,        // a data byte with bit 7 set
  SlowMessage,     // a message whose bytes lie more than a tick apart
  IgnoredCommand,  // a command the program does nothing with
  OneByteData,     // a keystroke or flag request in the one-byte form
  NoFc,            // a keystroke the program did not acknowledge within two ticks
};
const int RULE_COUNT = 7;
const char *ruleName(Rule rule);  // "key-before-fc"

const double TICK_MS = 200;  // the program's poll interval

struct TimedMessage {
  Side side;
  Message message;
  double firstMs, lastMs;
};

struct Warning {
  Rule rule;
  double atMs;
  std::string evidence;
};

// One thing the watch saw: a complete message, or a warning.
struct Sighting {
  bool isWarning;
  TimedMessage message;
  Warning warning;
};

class LinkWatch {
 public:
  // One byte seen on the line at the given time.
  std::vector<Sighting> feed(Side side, uint8_t byte, double ms);
  // Time has passed: keystrokes still unacknowledged after two ticks.
  std::vector<Sighting> advance(double ms);

  // Counts for a summary.
  int messages(Side side) const { return messages_[(int)side]; }
  int warnings(Rule rule) const { return warnings_[(int)rule]; }
  const std::vector<double> &fcLatencies() const { return fcLatencies_; }
  // The port closed and opened again: both sides start afresh, as the
  // program's receive buffer does, and no keystroke waits for its FC.
  void restart();
  // A message of the device's that has begun and not yet ended.
  bool deviceMessageOpen() const { return sides_[(int)Side::Device].position > 0; }

 private:
  struct Stream {
    Decoder decoder;
    int position = 0;  // of the next byte in its message: 0 for a header
    double firstMs = 0;
  };
  struct Keystroke {
    double sentMs;
    bool warned;
  };
  void warn(std::vector<Sighting> *out, Rule rule, double ms, const std::string &evidence);
  void checkDeviceMessage(const TimedMessage &m, std::vector<Sighting> *out);

  std::array<Stream, 2> sides_;
  std::deque<Keystroke> unacknowledged_;
  std::array<int, 2> messages_ = {0, 0};
  std::array<int, RULE_COUNT> warnings_ = {};
  std::vector<double> fcLatencies_;
};

// "  1234.5 !!           warning key-before-fc: ..."; grep for "warning".
std::string warningLine(const Warning &w);

}  // namespace device
