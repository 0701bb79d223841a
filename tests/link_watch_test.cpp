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
  const Row rows[] = {
      {"keystroke and its FC", {dev(0, {0x84, 0x1E, 0x41}), prog(150, {0xFC})}, 1000, {}},
      {"queries, identify, flags",
       {dev(0, {0xCC, 0xD4, 0x88, 0x00, 0x40, 0x8C, 0x00, 0x00})},
       1000,
       {}},
      {"header with bit 7 clear",
       {dev(0, {0x04, 0x1E, 0x41}), prog(100, {0xFC})},
       500,
       {Rule::HeaderBit7}},
      {"data byte with bit 7 set",
       {dev(0, {0x84, 0x9E, 0x41}), prog(100, {0xFC})},
       500,
       {Rule::DataBit7}},
      {"bytes spread over more than a tick",
       {dev(0, {0x84}), dev(150, {0x1E}), dev(300, {0x41}), prog(400, {0xFC})},
       1000,
       {Rule::SlowMessage}},
      {"bytes a tick apart are fine",
       {dev(0, {0x84, 0x1E}), dev(200, {0x41}), prog(300, {0xFC})},
       500,
       {}},
      {"a command the program ignores",
       {dev(0, {0xFC, 0x80, 0x01, 0x02})},
       500,
       {Rule::IgnoredCommand, Rule::IgnoredCommand}},
      {"one-byte keystroke", {dev(0, {0xC4}), prog(100, {0xFC})}, 500, {Rule::OneByteData}},
      {"keystroke before the FC",
       {dev(0, {0x84, 0x1E, 0x41}), dev(50, {0x84, 0x30, 0x42}), prog(100, {0xFC}),
        prog(300, {0xFC})},
       1000,
       {Rule::KeyBeforeFc}},
      {"no FC within two ticks", {dev(0, {0x84, 0x1E, 0x41})}, 401, {Rule::NoFc}},
      {"FC just within two ticks", {dev(0, {0x84, 0x1E, 0x41}), prog(400, {0xFC})}, 1000, {}},
      {"the program's own messages are not judged", {prog(0, {0x04, 0x9E, 0xFC, 0xC4})}, 1000, {}},
      {"a keystroke without its FC warns once; the next one, after it, is clean",
       {dev(0, {0x84, 0x1E, 0x41}), dev(1000, {0x84, 0x30, 0x42}), prog(1100, {0xFC}),
        dev(1300, {0x84, 0x1E, 0x41}), prog(1400, {0xFC})},
       2000,
       {Rule::NoFc}},
      {"half a message and a tick of silence", {dev(0, {0x84, 0x1E})}, 201, {Rule::Incomplete}},
      {"a header alone and a tick of silence", {dev(0, {0x84})}, 500, {Rule::Incomplete}},
      {"finished after a tick of silence: reported incomplete, and only that",
       {dev(0, {0x84, 0x1E}), dev(201, {0x41}), prog(300, {0xFC})},
       1500,
       {Rule::Incomplete}},
      {"a one-byte message is complete at once", {dev(0, {0xD4})}, 1000, {}},
      {"Shift set and cleared with both bits",
       {dev(0, {0x88, 0x00, 0x43, 0x88, 0x00, 0x00})},
       500,
       {}},
      {"a flag request with one Shift bit, either",
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

TEST(LinkWatchTest, SplitsMessagesWithTheirTimes) {
  LinkWatch w;
  std::vector<device::TimedMessage> messages;
  auto feed = [&](Side side, uint8_t byte, double ms) {
    for (const auto &s : w.feed(side, byte, ms))
      if (!s.isWarning) messages.push_back(s.message);
  };
  feed(Side::Device, 0x84, 10);
  feed(Side::Device, 0x1E, 12);
  EXPECT_TRUE(w.deviceMessageOpen());
  feed(Side::Program, 0x98, 13);  // the other side's bytes do not mix in
  feed(Side::Device, 0x41, 15);
  feed(Side::Program, 0x02, 16);
  feed(Side::Program, 0x22, 16);
  EXPECT_FALSE(w.deviceMessageOpen());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].side, Side::Device);
  EXPECT_EQ(messages[0].message.bytes, (std::vector<uint8_t>{0x84, 0x1E, 0x41}));
  EXPECT_EQ(messages[0].firstMs(), 10);
  EXPECT_EQ(messages[0].lastMs(), 15);
  EXPECT_EQ(messages[1].message.command, 6);
  EXPECT_EQ(w.messages(Side::Device), 1);
  EXPECT_EQ(w.messages(Side::Program), 1);
}

TEST(LinkWatchTest, EachFcAnswersTheOldestKeystroke) {
  LinkWatch w;
  watch(w,
        {dev(0, {0x84, 0x1E, 0x41}), dev(10, {0x84, 0x30, 0x42}), prog(100, {0xFC}),
         prog(310, {0xFC}), prog(400, {0xFC})},
        500);
  EXPECT_EQ(w.fcLatencies(), (std::vector<double>{100, 300})) << "a stray FC matches nothing";
  EXPECT_EQ(device::percentile(w.fcLatencies(), 0.5), 300);
}

TEST(LinkWatchTest, AnUnansweredKeystrokeDoesNotShiftLaterLatencies) {
  LinkWatch w;
  watch(w,
        {dev(0, {0x84, 0x1E, 0x41}), dev(1000, {0x84, 0x30, 0x42}), prog(1150, {0xFC}),
         dev(1300, {0x84, 0x1E, 0x41}), prog(1420, {0xFC})},
        2000);
  EXPECT_EQ(w.fcLatencies(), (std::vector<double>{150, 120}));
  EXPECT_EQ(w.warnings(Rule::NoFc), 1);
  EXPECT_EQ(w.warnings(Rule::KeyBeforeFc), 0);
}

// Warnings carry the moment the rule was broken, not the moment someone
// looked: a record watched again gives the same times.
TEST(LinkWatchTest, TimedWarningsCarryTheirDeadline) {
  LinkWatch w;
  std::vector<device::Warning> seen;
  auto take = [&](const std::vector<device::Sighting> &sightings) {
    for (const auto &s : sightings)
      if (s.isWarning) seen.push_back(s.warning);
  };
  for (uint8_t b : {0x84, 0x1E, 0x41}) take(w.feed(Side::Device, b, 10));
  for (uint8_t b : {0x84, 0x1E}) take(w.feed(Side::Device, b, 700));
  take(w.advance(5000));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].rule, Rule::NoFc);
  EXPECT_EQ(seen[0].atMs, 410);
  EXPECT_EQ(seen[1].rule, Rule::Incomplete);
  EXPECT_EQ(seen[1].atMs, 900);
  EXPECT_EQ(seen[1].evidence, "84 1E, no third byte after 200 ms");
}

TEST(LinkWatchTest, ByteWarningsFollowTheirMessage) {
  LinkWatch w;
  std::vector<std::string> order;
  auto feed = [&](uint8_t byte, double ms) {
    for (const auto &s : w.feed(Side::Device, byte, ms))
      order.push_back(s.isWarning ? device::ruleName(s.warning.rule) : "message");
  };
  feed(0x04, 0);
  feed(0x9E, 1);
  EXPECT_TRUE(order.empty()) << "nothing is said before the message ends";
  feed(0x41, 2);
  EXPECT_EQ(order, (std::vector<std::string>{"message", "header-bit7", "data-bit7"}));
}

TEST(LinkWatchTest, LineErrorsAreWarningsOfTheirOwn) {
  LinkWatch w;
  auto parity = w.lineError(device::LineByte::BAD, 0x41, 5);
  auto lineBreak = w.lineError(device::LineByte::BREAK, 0x00, 6);
  ASSERT_EQ(parity.size(), 1u);
  EXPECT_EQ(parity[0].warning.evidence,
            "byte 41 arrived with a parity or framing error: is the device at 9600 8O1?");
  ASSERT_EQ(lineBreak.size(), 1u);
  EXPECT_EQ(lineBreak[0].warning.rule, Rule::LineBreak);
  EXPECT_EQ(w.warnings(Rule::ParityError), 1);
}

TEST(LinkWatchTest, RestartForgetsHalfMessagesAndWaitingKeystrokes) {
  LinkWatch w;
  watch(w, {dev(0, {0x84, 0x1E, 0x41}), dev(10, {0x84})}, 10);
  EXPECT_EQ(w.openMessage(Side::Device).bytes, std::vector<uint8_t>{0x84});
  w.restart();
  EXPECT_FALSE(w.deviceMessageOpen());
  EXPECT_EQ(watch(w, {dev(500, {0x84, 0x30, 0x42}), prog(600, {0xFC})}, 1000), std::vector<Rule>{})
      << "a fresh start: no keystroke before an FC, none unanswered";
}

TEST(LinkWatchTest, RestartSaysWhatItHeldAboutTheDroppedMessage) {
  LinkWatch w;
  w.feed(Side::Device, 0x04, 0);
  auto held = w.restart();
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].warning.rule, Rule::HeaderBit7);
}

}  // namespace
