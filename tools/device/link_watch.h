// Watching a conversation on the link from outside: both byte streams split
// into messages as the program's decoder splits them, each with the time of
// every byte, and the device's side checked against the link's rules. Times
// are given by the caller, so the checks can be tested without waiting, and
// a recorded conversation gives the same warnings when it is watched again.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "link_codec.h"
#include "marked_bytes.h"

namespace device {

enum class Side { Device, Program };

// What the device must not do, and what it does at its peril.
enum class Rule {
  KeyBeforeFc,     // a keystroke before the program's FC for the previous one
  HeaderBit7,      // a message's first byte with bit 7 clear
  DataBit7,        // a data byte with bit 7 set
  SlowMessage,     // a message whose bytes span more than a tick (and not Incomplete)
  IgnoredCommand,  // a command the program does nothing with
  OneByteData,     // a keystroke or flag request in the one-byte form
  NoFc,            // a keystroke the program did not acknowledge within two ticks
  Incomplete,      // a message begun and then a tick of silence
  ParityError,     // a byte the port received with a parity or framing error
  LineBreak,       // the line held at the break level longer than a byte
  OneShiftBit,     // a flag request that sets one of the two Shift bits only
};
const int RULE_COUNT = 11;
const char *ruleName(Rule rule);  // "key-before-fc"

const double TICK_MS = 200;  // the program's poll interval

struct TimedMessage {
  Side side;
  Message message;
  std::vector<double> byteMs;  // when each byte crossed
  double firstMs() const { return byteMs.front(); }
  double lastMs() const { return byteMs.back(); }
};

struct Warning {
  Rule rule;
  double atMs;
  std::string evidence;
};

// One thing the watch saw: a complete message, or a warning. A warning about
// a message's bytes comes right after the message.
struct Sighting {
  bool isWarning;
  TimedMessage message;
  Warning warning;
};

// The bytes of a message begun and not finished.
struct OpenMessage {
  std::vector<uint8_t> bytes;
  std::vector<double> byteMs;
};

class LinkWatch {
 public:
  // One byte seen on the line at the given time.
  std::vector<Sighting> feed(Side side, uint8_t byte, double ms);
  // Time has passed: keystrokes still unacknowledged after two ticks, and
  // messages left unfinished for a tick.
  std::vector<Sighting> advance(double ms);
  // The port reported a byte received with a line error (a BAD byte or a
  // BREAK); the byte itself is fed as usual.
  std::vector<Sighting> lineError(LineByte::Kind kind, uint8_t byte, double ms);

  // The program opened the port afresh: both sides start over, as the
  // program's receive buffer does, and no keystroke waits for its FC.
  // Returns the warnings held for the unfinished message that is dropped.
  std::vector<Sighting> restart();

  // Counts for a summary.
  int messages(Side side) const { return messages_[(int)side]; }
  int warnings(Rule rule) const { return warnings_[(int)rule]; }
  const std::vector<double> &fcLatencies() const { return fcLatencies_; }
  // A message of this side's that has begun and not yet ended.
  const OpenMessage &openMessage(Side side) const { return sides_[(int)side].open; }
  bool deviceMessageOpen() const { return !sides_[(int)Side::Device].open.bytes.empty(); }

 private:
  struct Stream {
    Decoder decoder;
    OpenMessage open;
    std::vector<Warning> held;  // about the open message's bytes
    bool reportedIncomplete = false;
  };
  Warning warning(Rule rule, double ms, const std::string &evidence);
  void checkDeviceMessage(const TimedMessage &m, bool incompleteReported,
                          std::vector<Sighting> *out);
  static void emit(std::vector<Sighting> *out, const Warning &w);

  std::array<Stream, 2> sides_;
  std::deque<double> unacknowledged_;  // when each keystroke waiting for its FC was sent
  std::array<int, 2> messages_ = {0, 0};
  std::array<int, RULE_COUNT> warnings_ = {};
  std::vector<double> fcLatencies_;
};

// "  1234.5 !!           warning key-before-fc: ..."; grep for "warning".
std::string warningLine(const Warning &w);

}  // namespace device
