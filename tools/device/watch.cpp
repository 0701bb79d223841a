#include "watch.h"

#include <algorithm>
#include <climits>

namespace device {

const char *ruleName(Rule rule) {
  static const char *names[] = {"key-before-fc",   "header-bit7",   "data-bit7",    "slow-message",
                                "ignored-command", "one-byte-data", "no-fc",        "incomplete",
                                "parity-error",    "break",         "one-shift-bit"};
  return names[(int)rule];
}

Sighting Watch::warn(Rule rule, int64_t us, const std::string &evidence) {
  warnings[(int)rule]++;
  Sighting s;
  s.isWarning = true, s.rule = rule, s.atUs = us, s.evidence = evidence;
  return s;
}

Sightings Watch::feed(Side side, uint8_t byte, int64_t us) {
  Sightings out = advance(us);
  Stream &stream = sides[(int)side];
  bool header = stream.bytes.empty();
  if (side == Side::Device && header && !(byte & 0x80))
    stream.deferred.push_back(warn(
        Rule::HeaderBit7, us,
        format("header byte %02X has bit 7 clear; the program takes it as a header anyway", byte)));
  if (side == Side::Device && !header && (byte & 0x80))
    stream.deferred.push_back(warn(Rule::DataBit7, us,
                                   format("data byte %02X has bit 7 set; the program keeps it and "
                                          "ORs the header's bit in",
                                          byte)));
  stream.bytes.push_back(byte);
  stream.byteUs.push_back(us);
  auto message = stream.decoder.feed(byte);
  if (!message) return out;

  messages[(int)side]++;
  Sighting s;
  s.side = side, s.message = *message, s.byteUs = stream.byteUs;
  out.push_back(s);
  out.insert(out.end(), stream.deferred.begin(), stream.deferred.end());
  bool incompleteReported = stream.reportedIncomplete;
  stream.bytes.clear(), stream.byteUs.clear(), stream.deferred.clear();
  stream.reportedIncomplete = false;
  if (side == Side::Device) {
    checkDeviceMessage(s, incompleteReported, &out);
  } else if (message->command == KEY_DONE && !unacknowledged.empty()) {
    fcLatency.add(us - unacknowledged.front());
    unacknowledged.pop_front();
  }
  return out;
}

void Watch::checkDeviceMessage(const Sighting &s, bool incompleteReported, Sightings *out) {
  const Message &m = s.message;
  int64_t last = s.byteUs.back(), span = last - s.byteUs.front();
  // One that was already reported incomplete is not reported again.
  if (span > TICK_US && !incompleteReported)
    out->push_back(warn(Rule::SlowMessage, last,
                        format("the message's bytes span %.0f ms, more than a tick (200 ms)",
                               (double)span / 1000)));
  if (m.command < KEY_STROKE || m.command > IDENTIFY)
    out->push_back(warn(Rule::IgnoredCommand, last,
                        format("command %d means nothing to the program", m.command)));
  if (m.bytes.size() == 1 && (isKeystroke(m.command) || m.command == MODIFIER_FLAGS))
    out->push_back(warn(Rule::OneByteData, last,
                        "a one-byte keystroke or flag request takes its data from the previous "
                        "message"));
  // The program reads Shift as both bits once it is down, so a request with
  // one of them differs from what it reads in the other, and the same
  // request sent again releases Shift.
  int shiftBits = m.data2 & 0x03;
  if (m.command == MODIFIER_FLAGS && m.bytes.size() == 3 && (shiftBits == 1 || shiftBits == 2))
    out->push_back(warn(Rule::OneShiftBit, last,
                        format("flags 0x%02X set one Shift bit; once Shift is down the program "
                               "reads both, and the same request again releases it: set Shift "
                               "with 03",
                               m.data2)));
  if (!isKeystroke(m.command)) return;
  if (!unacknowledged.empty())
    out->push_back(warn(Rule::KeyBeforeFc, last,
                        format("keystroke sent %.0f ms after the previous one, before its FC",
                               (double)(last - unacknowledged.back()) / 1000)));
  unacknowledged.push_back(last);
}

Sightings Watch::restart() {
  Sightings out;
  for (Stream &stream : sides)
    out.insert(out.end(), stream.deferred.begin(), stream.deferred.end());
  sides = {};
  unacknowledged.clear();
  return out;
}

Sightings Watch::advance(int64_t us) {
  Sightings out;
  Stream &device = sides[(int)Side::Device];
  // Each warning is given at the moment its time ran out, in that order, so
  // that a record watched again gives the same lines in the same order.
  for (;;) {
    int64_t noFc = unacknowledged.empty() ? LLONG_MAX : unacknowledged.front() + 2 * TICK_US;
    bool open = !device.bytes.empty() && !device.reportedIncomplete;
    int64_t incomplete = open ? device.byteUs.back() + TICK_US : LLONG_MAX;
    if (std::min(noFc, incomplete) >= us) return out;
    if (noFc <= incomplete) {
      // Reported once, then forgotten: it does not count against later keystrokes.
      out.push_back(warn(Rule::NoFc, noFc,
                         format("no FC 400 ms after the keystroke sent at %.1f ms",
                                (double)unacknowledged.front() / 1000)));
      unacknowledged.pop_front();
      continue;
    }
    device.reportedIncomplete = true;
    out.push_back(warn(Rule::Incomplete, incomplete,
                       format("%s, no %s byte after 200 ms", hex(device.bytes).c_str(),
                              device.bytes.size() == 1 ? "second" : "third")));
    out.insert(out.end(), device.deferred.begin(), device.deferred.end());
    device.deferred.clear();
  }
}

}  // namespace device
