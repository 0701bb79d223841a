#include "link_watch.h"

#include "format.h"
#include "session.h"

namespace device {

namespace {
const char *RULE_NAMES[RULE_COUNT] = {"key-before-fc", "header-bit7",     "data-bit7",
                                      "slow-message",  "ignored-command", "one-byte-data",
                                      "no-fc",         "incomplete",      "parity-error",
                                      "break",         "one-shift-bit"};

bool isKeystroke(int command) { return command == KEY_STROKE || command == SYS_KEY_STROKE; }
}  // namespace

const char *ruleName(Rule rule) { return RULE_NAMES[(int)rule]; }

std::string warningLine(const Warning &w) {
  return transcriptLine(w.atMs, "!!", "",
                        std::string("warning ") + ruleName(w.rule) + ": " + w.evidence);
}

Warning LinkWatch::warning(Rule rule, double ms, const std::string &evidence) {
  warnings_[(int)rule]++;
  return {rule, ms, evidence};
}

void LinkWatch::emit(std::vector<Sighting> *out, const Warning &w) {
  Sighting s = {};
  s.isWarning = true;
  s.warning = w;
  out->push_back(s);
}

std::vector<Sighting> LinkWatch::feed(Side side, uint8_t byte, double ms) {
  std::vector<Sighting> out = advance(ms);
  Stream &stream = sides_[(int)side];
  bool header = stream.open.bytes.empty();
  if (side == Side::Device && header && !(byte & 0x80))
    stream.held.push_back(warning(Rule::HeaderBit7, ms,
                                  "header byte " + hex({byte}) +
                                      " has bit 7 clear; the program takes it as a header anyway"));
  if (side == Side::Device && !header && (byte & 0x80))
    stream.held.push_back(warning(Rule::DataBit7, ms,
                                  "data byte " + hex({byte}) +
                                      " has bit 7 set; the program keeps it and ORs the "
                                      "header's bit in"));
  stream.open.bytes.push_back(byte);
  stream.open.byteMs.push_back(ms);
  auto message = stream.decoder.feed(byte);
  if (!message) return out;

  messages_[(int)side]++;
  Sighting s = {};
  s.message = {side, *message, stream.open.byteMs};
  out.push_back(s);
  for (const Warning &w : stream.held) emit(&out, w);
  stream.held.clear();
  stream.open = {};
  bool incompleteReported = stream.reportedIncomplete;
  stream.reportedIncomplete = false;
  if (side == Side::Device) {
    checkDeviceMessage(s.message, incompleteReported, &out);
  } else if (message->command == KEY_DONE && !unacknowledged_.empty()) {
    fcLatencies_.push_back(ms - unacknowledged_.front());
    unacknowledged_.pop_front();
  }
  return out;
}

void LinkWatch::checkDeviceMessage(const TimedMessage &m, bool incompleteReported,
                                   std::vector<Sighting> *out) {
  const Message &message = m.message;
  double span = m.lastMs() - m.firstMs();
  // One that was already reported incomplete is not reported again.
  if (span > TICK_MS && !incompleteReported)
    emit(out, warning(Rule::SlowMessage, m.lastMs(),
                      format("the message's bytes span %.0f ms, more than a tick (%.0f ms)", span,
                             TICK_MS)));
  if (message.command < KEY_STROKE || message.command > IDENTIFY)
    emit(out, warning(Rule::IgnoredCommand, m.lastMs(),
                      format("command %d means nothing to the program", message.command)));
  if (message.bytes.size() == 1 &&
      (isKeystroke(message.command) || message.command == MODIFIER_FLAGS))
    emit(out,
         warning(Rule::OneByteData, m.lastMs(),
                 "a one-byte keystroke or flag request takes its data from the previous message"));
  // The program reads Shift as both bits once it is down, so a request with
  // one of them differs from what it reads in the other, and the same
  // request sent again releases Shift.
  int shiftBits = message.data2 & 0x03;
  if (message.command == MODIFIER_FLAGS && message.bytes.size() == 3 &&
      (shiftBits == 0x01 || shiftBits == 0x02))
    emit(out, warning(Rule::OneShiftBit, m.lastMs(),
                      format("flags 0x%02X set one Shift bit; once Shift is down the program reads "
                             "both, and the same request again releases it: set Shift with 03",
                             message.data2)));
  if (!isKeystroke(message.command)) return;
  if (!unacknowledged_.empty())
    emit(out, warning(Rule::KeyBeforeFc, m.lastMs(),
                      format("keystroke sent %.0f ms after the previous one, before its FC",
                             m.lastMs() - unacknowledged_.back())));
  unacknowledged_.push_back(m.lastMs());
}

std::vector<Sighting> LinkWatch::lineError(LineByte::Kind kind, uint8_t byte, double ms) {
  std::vector<Sighting> out = advance(ms);
  if (kind == LineByte::BREAK)
    emit(&out, warning(Rule::LineBreak, ms, "a break: the line held low for longer than a byte"));
  else
    emit(&out, warning(Rule::ParityError, ms,
                       "byte " + hex({byte}) +
                           " arrived with a parity or framing error: is the device at 9600 8O1?"));
  return out;
}

std::vector<Sighting> LinkWatch::restart() {
  std::vector<Sighting> out;
  for (Stream &stream : sides_)
    for (const Warning &w : stream.held) emit(&out, w);
  sides_ = {};
  unacknowledged_.clear();
  return out;
}

std::vector<Sighting> LinkWatch::advance(double ms) {
  std::vector<Sighting> out;
  // A keystroke left without an FC is reported once, at the moment its two
  // ticks ran out, and then forgotten: it does not count against later ones.
  while (!unacknowledged_.empty() && ms - unacknowledged_.front() > 2 * TICK_MS) {
    double sent = unacknowledged_.front();
    unacknowledged_.pop_front();
    emit(&out,
         warning(Rule::NoFc, sent + 2 * TICK_MS,
                 format("no FC %.0f ms after the keystroke sent at %.1f ms", 2 * TICK_MS, sent)));
  }
  Stream &device = sides_[(int)Side::Device];
  if (!device.open.bytes.empty() && !device.reportedIncomplete &&
      ms - device.open.byteMs.back() > TICK_MS) {
    device.reportedIncomplete = true;
    size_t have = device.open.bytes.size();
    emit(&out, warning(Rule::Incomplete, device.open.byteMs.back() + TICK_MS,
                       format("%s, no %s byte after %.0f ms", hex(device.open.bytes).c_str(),
                              have == 1 ? "second" : "third", TICK_MS)));
    for (const Warning &w : device.held) emit(&out, w);
    device.held.clear();
  }
  return out;
}

}  // namespace device
