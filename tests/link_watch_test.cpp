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
      {"bytes more than a tick apart",
       {dev(0, {0x84, 0x1E}), dev(201, {0x41}), prog(300, {0xFC})},
       500,
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
  EXPECT_EQ(messages[0].firstMs, 10);
  EXPECT_EQ(messages[0].lastMs, 15);
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

TEST(LinkWatchTest, RestartForgetsHalfMessagesAndWaitingKeystrokes) {
  LinkWatch w;
  watch(w, {dev(0, {0x84, 0x1E, 0x41}), dev(10, {0x84})}, 10);
  w.restart();
  EXPECT_FALSE(w.deviceMessageOpen());
  EXPECT_EQ(watch(w, {dev(500, {0x84, 0x30, 0x42}), prog(600, {0xFC})}, 1000), std::vector<Rule>{})
      << "a fresh start: no keystroke before an FC, none unanswered";
}

}  // namespace
