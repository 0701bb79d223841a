// The tap's and the conformance run's view of the line: messages split from
// the two byte streams, and the device's side checked against the rules,
// with the times given rather than waited for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_watch.h"
#include "session.h"

namespace {

using device::LinkWatch;
using device::Rule;
using device::Side;

struct Bytes {
  Side side;
  double ms;
  std::vector<uint8_t> bytes;
};
Bytes dev(double ms, std::vector<uint8_t> b) { return {Side::Device, ms, b}; }
Bytes prog(double ms, std::vector<uint8_t> b) { return {Side::Program, ms, b}; }
Bytes key(double ms) { return dev(ms, {0x84, 0x1E, 0x41}); }
Bytes fc(double ms) { return prog(ms, {0xFC}); }

// Feeds the bytes, then lets time pass to `until`; returns the warnings.
std::vector<Rule> watch(LinkWatch &w, const std::vector<Bytes> &stream, double until) {
  std::vector<Rule> rules;
  auto take = [&](const std::vector<device::Sighting> &sightings) {
    for (const auto &s : sightings)
      if (s.isWarning) rules.push_back(s.warning.rule);
  };
  for (const Bytes &b : stream)
    for (uint8_t byte : b.bytes) take(w.feed(b.side, byte, b.ms));
  take(w.advance(until));
  return rules;
}

TEST(LinkWatchTest, WarnsWhereTheDeviceBreaksARule) {
  struct Row {
    const char *what;
    std::vector<Bytes> stream;
    double until;
    std::vector<Rule> expected;
  };
  const std::vector<Rule> none;
  const Row rows[] = {
      {"keystroke and its FC", {key(0), fc(150)}, 1000, none},
      {"queries, identify, flags with both Shift bits",
       {dev(0, {0xCC, 0xD4, 0x88, 0, 0x43, 0x8C, 0, 0, 0x88, 0, 0})},
       1000,
       none},
      {"header with bit 7 clear", {dev(0, {0x04, 0x1E, 0x41}), fc(100)}, 500, {Rule::HeaderBit7}},
      {"data byte with bit 7 set", {dev(0, {0x84, 0x9E, 0x41}), fc(100)}, 500, {Rule::DataBit7}},
      {"spread over more than a tick",
       {dev(0, {0x84}), dev(150, {0x1E}), dev(300, {0x41}), fc(400)},
       1000,
       {Rule::SlowMessage}},
      {"bytes a tick apart are fine", {dev(0, {0x84, 0x1E}), dev(200, {0x41}), fc(300)}, 500, none},
      {"ignored commands",
       {dev(0, {0xFC, 0x80, 0x01, 0x02})},
       500,
       {Rule::IgnoredCommand, Rule::IgnoredCommand}},
      {"one-byte keystroke", {dev(0, {0xC4}), fc(100)}, 500, {Rule::OneByteData}},
      {"keystroke before the FC", {key(0), key(50), fc(100), fc(300)}, 1000, {Rule::KeyBeforeFc}},
      {"no FC within two ticks", {key(0)}, 401, {Rule::NoFc}},
      {"FC just within two ticks", {key(0), fc(400)}, 1000, none},
      {"the program's are not judged", {prog(0, {0x04, 0x9E, 0xFC, 0xC4})}, 1000, none},
      {"half a message and a tick of silence", {dev(0, {0x84, 0x1E})}, 201, {Rule::Incomplete}},
      {"incomplete, then ended: no more",
       {dev(0, {0x84, 0x1E}), dev(201, {0x41}), fc(300)},
       1500,
       {Rule::Incomplete}},
      {"a one-byte message is complete at once", {dev(0, {0xD4})}, 1000, none},
      {"one Shift bit, either",
       {dev(0, {0x88, 0x00, 0x02, 0x88, 0x00, 0x41})},
       500,
       {Rule::OneShiftBit, Rule::OneShiftBit}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    LinkWatch w;
    EXPECT_EQ(watch(w, row.stream, row.until), row.expected);
  }
}

TEST(LinkWatchTest, SplitsMessagesWithTheirTimesAndWarningsAfterThem) {
  LinkWatch w;
  std::vector<std::string> seen;
  std::vector<device::TimedMessage> messages;
  auto feed = [&](Side side, std::vector<uint8_t> bytes, double ms) {
    for (uint8_t b : bytes)
      for (const auto &s : w.feed(side, b, ms)) {
        if (!s.isWarning) messages.push_back(s.message);
        seen.push_back(s.isWarning ? device::ruleName(s.warning.rule)
                                   : device::hex(s.message.message.bytes));
      }
  };
  feed(Side::Device, {0x04, 0x9E}, 10);  // a bad header, a bad data byte
  EXPECT_TRUE(w.deviceMessageOpen());
  EXPECT_TRUE(seen.empty()) << "nothing is said before the message ends";
  feed(Side::Program, {0x98}, 13);  // the other side's bytes do not mix in
  feed(Side::Device, {0x41}, 15);
  feed(Side::Program, {0x02, 0x22}, 16);
  EXPECT_FALSE(w.deviceMessageOpen());
  EXPECT_EQ(seen, (std::vector<std::string>{"04 9E 41", "header-bit7", "data-bit7", "98 02 22"}));
  EXPECT_EQ(messages[0].byteMs, (std::vector<double>{10, 10, 15}));
  EXPECT_EQ(messages[1].side, Side::Program);
  EXPECT_EQ(w.messages(Side::Device), 1);
}

// Two keystrokes at once, a stray FC, a keystroke never answered: each FC
// answers the oldest keystroke still waiting, and one never answered is
// reported once and forgotten, so later latencies are not put out by one.
TEST(LinkWatchTest, EachFcAnswersTheOldestKeystrokeStillWaiting) {
  LinkWatch w;
  watch(w,
        {key(0), key(10), fc(100), fc(310), fc(400), key(1000), key(2000), fc(2150), key(2300),
         fc(2420)},
        3000);
  EXPECT_EQ(w.fcLatencies(), (std::vector<double>{100, 300, 150, 120}));
  EXPECT_EQ(w.warnings(Rule::NoFc), 1);
  EXPECT_EQ(w.warnings(Rule::KeyBeforeFc), 1) << "only the second of the two at once";
}

// Warnings carry the moment the rule was broken, not the moment someone
// looked: a record watched again gives the same times.
TEST(LinkWatchTest, TimedWarningsCarryTheirDeadline) {
  LinkWatch w;
  for (uint8_t b : {0x84, 0x1E, 0x41}) w.feed(Side::Device, b, 10);
  auto late = w.advance(5000);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].warning.atMs, 410);
}

TEST(LinkWatchTest, RestartForgetsHalfMessagesAndWaitingKeystrokes) {
  LinkWatch w;
  watch(w, {key(0), dev(10, {0x04})}, 10);
  EXPECT_EQ(w.openMessage(Side::Device).bytes, std::vector<uint8_t>{0x04});
  auto held = w.restart();
  ASSERT_EQ(held.size(), 1u) << "it says what it held about the dropped message";
  EXPECT_EQ(held[0].warning.rule, Rule::HeaderBit7);
  EXPECT_FALSE(w.deviceMessageOpen());
  EXPECT_EQ(watch(w, {key(500), fc(600)}, 1000), std::vector<Rule>{})
      << "a fresh start: no keystroke before an FC, none unanswered";
}

}  // namespace
