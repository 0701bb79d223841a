// Watching a conversation on the line from outside: both byte streams split
// into messages as the program splits them, each byte with its time, and the
// device's side checked against the rules of the line. Times are given by
// the caller, so a recorded conversation watched again gives the same
// warnings at the same times.
#pragma once

#include <array>
#include <deque>

#include "latencies.h"
#include "messages.h"

namespace device {

enum class Side { Device, Program };
inline const char *sideName(Side side) { return side == Side::Device ? "device" : "program"; }

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
  COUNT
};
const char *ruleName(Rule rule);  // "key-before-fc"

// One thing the watch saw: a whole message with each byte's time, or a
// warning, which carries the moment its rule was broken.
struct Sighting {
  bool isWarning = false;
  Side side = Side::Device;
  Message message;
  std::vector<int64_t> byteUs;
  Rule rule = Rule::COUNT;
  int64_t atUs = 0;
  std::string evidence;
};
using Sightings = std::vector<Sighting>;

struct Watch {
  // One byte at its time. What a message's bytes broke follows the message.
  Sightings feed(Side side, uint8_t byte, int64_t us);
  // Time has passed: keystrokes without an FC after two ticks, and messages
  // left unfinished for a tick, each at the moment its time ran out.
  Sightings advance(int64_t us);
  // The port was opened afresh: both sides start over, as the program's
  // decoder does, and no keystroke waits for its FC.
  Sightings restart();

  // A side's message so far, each byte with its time, and the warnings about them.
  struct Stream {
    Decoder decoder;
    Bytes bytes;
    std::vector<int64_t> byteUs;
    Sightings deferred;  // until the message ends
    bool reportedIncomplete = false;
  };
  std::array<Stream, 2> sides;
  std::deque<int64_t> unacknowledged;  // when each keystroke still without an FC was sent
  std::array<int, 2> messages = {0, 0};
  std::array<int, (int)Rule::COUNT> warnings = {};
  Latencies fcLatency;

  Sighting warn(Rule rule, int64_t us, const std::string &evidence);  // counted
  void checkDeviceMessage(const Sighting &m, bool incompleteReported, Sightings *out);
};

}  // namespace device
