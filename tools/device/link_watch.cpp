#include "link_watch.h"

#include <algorithm>
#include <cstdio>

#include "session.h"

namespace device {

namespace {
const char *RULE_NAMES[RULE_COUNT] = {"key-before-fc", "header-bit7",     "data-bit7",
                                      "slow-message",  "ignored-command", "one-byte-data",
                                      "no-fc"};

std::string format(const char *pattern, double a, double b = 0) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

bool isKeystroke(int command) { return command == KEY_STROKE || command == SYS_KEY_STROKE; }
}  // namespace

const char *ruleName(Rule rule) { return RULE_NAMES[(int)rule]; }

std::string warningLine(const Warning &w) {
  return transcriptLine(w.atMs, "!!", "",
                        std::string("warning ") + ruleName(w.rule) + ": " + w.evidence);
}

void LinkWatch::warn(std::vector<Sighting> *out, Rule rule, double ms,
                     const std::string &evidence) {
  warnings_[(int)rule]++;
  Sighting s = {};
  s.isWarning = true;
  s.warning = {rule, ms, evidence};
  out->push_back(s);
}

std::vector<Sighting> LinkWatch::feed(Side side, uint8_t byte, double ms) {
  std::vector<Sighting> out = advance(ms);
  Stream &stream = sides_[(int)side];
  if (side == Side::Device) {
    if (stream.position == 0 && !(byte & 0x80))
      warn(&out, Rule::HeaderBit7, ms,
           "header byte " + hex({byte}) +
               " has bit 7 clear; the program takes it as a header "
               "anyway");
    if (stream.position > 0 && (byte & 0x80))
      warn(&out, Rule::DataBit7, ms,
           "data byte " + hex({byte}) +
               " has bit 7 set; the program keeps it and ORs the "
               "header's bit in");
  }
  if (stream.position == 0) stream.firstMs = ms;
  auto message = stream.decoder.feed(byte);
  if (!message) {
    stream.position++;
    return out;
  }
  stream.position = 0;
  messages_[(int)side]++;
  Sighting s = {};
  s.message = {side, *message, stream.firstMs, ms};
  out.push_back(s);
  if (side == Side::Device) {
    checkDeviceMessage(s.message, &out);
  } else if (message->command == KEY_DONE && !unacknowledged_.empty()) {
    fcLatencies_.push_back(ms - unacknowledged_.front().sentMs);
    unacknowledged_.pop_front();
  }
  return out;
}

void LinkWatch::checkDeviceMessage(const TimedMessage &m, std::vector<Sighting> *out) {
  const Message &message = m.message;
  if (m.lastMs - m.firstMs > TICK_MS)
    warn(out, Rule::SlowMessage, m.lastMs,
         format("the message's bytes span %.0f ms, more than a tick (%.0f ms)",
                m.lastMs - m.firstMs, TICK_MS));
  if (message.command < KEY_STROKE || message.command > IDENTIFY)
    warn(out, Rule::IgnoredCommand, m.lastMs,
         "command " + std::to_string(message.command) + " means nothing to the program");
  if (message.bytes.size() == 1 &&
      (isKeystroke(message.command) || message.command == MODIFIER_FLAGS))
    warn(out, Rule::OneByteData, m.lastMs,
         "a one-byte keystroke or flag request takes its data from the previous message");
  if (!isKeystroke(message.command)) return;
  if (!unacknowledged_.empty())
    warn(out, Rule::KeyBeforeFc, m.lastMs,
         format("keystroke sent %.0f ms after the previous one, before its FC",
                m.lastMs - unacknowledged_.back().sentMs));
  unacknowledged_.push_back({m.lastMs, false});
}

void LinkWatch::restart() {
  sides_ = {};
  unacknowledged_.clear();
}

std::vector<Sighting> LinkWatch::advance(double ms) {
  std::vector<Sighting> out;
  for (Keystroke &k : unacknowledged_) {
    if (k.warned || ms - k.sentMs <= 2 * TICK_MS) continue;
    k.warned = true;
    warn(&out, Rule::NoFc, ms,
         format("no FC %.0f ms after the keystroke sent at %.1f ms", 2 * TICK_MS, k.sentMs));
  }
  return out;
}

}  // namespace device
