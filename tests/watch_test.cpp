// The view of the line that the tap and the conformance run share: messages
// split from the two byte streams, the device's side checked against the
// rules, with the times given rather than waited for.
#include <gtest/gtest.h>

#include "watch.h"

namespace {

using device::Rule;
using device::Side;
using device::Watch;

struct Bytes {
  Side side;
  int64_t ms;
  std::vector<uint8_t> bytes;
};
Bytes dev(int64_t ms, std::vector<uint8_t> b) { return {Side::Device, ms, b}; }
Bytes prog(int64_t ms, std::vector<uint8_t> b) { return {Side::Program, ms, b}; }
Bytes key(int64_t ms) { return dev(ms, {0x84, 0x1E, 0x41}); }
Bytes fc(int64_t ms) { return prog(ms, {0xFC}); }

// Feeds the bytes, then lets time pass to `until`; returns the warnings in order.
std::vector<Rule> watch(Watch &w, const std::vector<Bytes> &stream, int64_t untilMs) {
  std::vector<Rule> rules;
  auto take = [&](const device::Sightings &seen) {
    for (const auto &s : seen)
      if (s.isWarning) rules.push_back(s.rule);
  };
  for (const Bytes &b : stream)
    for (uint8_t byte : b.bytes) take(w.feed(b.side, byte, b.ms * 1000));
  take(w.advance(untilMs * 1000));
  return rules;
}

TEST(WatchTest, WarnsWhereTheDeviceBreaksARule) {
  const std::vector<Rule> none;
  const struct {
    const char *what;
    std::vector<Bytes> stream;
    int64_t until;
    std::vector<Rule> expected;
  } rows[] = {
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
      {"incomplete, then ended: said once",
       {dev(0, {0x84, 0x1E}), dev(201, {0x41}), fc(300)},
       1500,
       {Rule::Incomplete}},
      {"one Shift bit, either",
       {dev(0, {0x88, 0x00, 0x02, 0x88, 0x00, 0x41})},
       500,
       {Rule::OneShiftBit, Rule::OneShiftBit}},
      // Each at the moment its time ran out: a record watched again in one
      // step gives them in the order the live run did.
      {"an unanswered key and a half message, by their deadlines",
       {key(0), dev(100, {0x84})},
       2000,
       {Rule::Incomplete, Rule::NoFc}},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    Watch w;
    EXPECT_EQ(watch(w, row.stream, row.until), row.expected);
  }
}

// Each FC answers the oldest keystroke still waiting; one never answered is
// reported once and forgotten, so later latencies are not put out by one;
// after a restart nothing waits.
TEST(WatchTest, EachFcAnswersTheOldestKeystrokeStillWaiting) {
  Watch w;
  watch(w,
        {key(0), key(10), fc(100), fc(310), fc(400), key(1000), key(2000), fc(2150), key(2300),
         fc(2420)},
        3000);
  EXPECT_EQ(w.fcLatency.count(), 4);
  EXPECT_EQ(w.fcLatency.percentile(0) + ", " + w.fcLatency.largest(), "100.0 ms, 300.0 ms");
  device::Latencies l;  // to the nearest 0.1 ms, and honest beyond its 10 s
  for (int64_t us : {49, 50, 10000001}) l.add(us);
  EXPECT_EQ(
      l.percentile(0) + ", " + l.percentile(0.4) + ", " + l.percentile(0.9) + ", " + l.largest(),
      "0.0 ms, 0.1 ms, over 10 s, 10000.0 ms");
  EXPECT_EQ(w.warnings[(int)Rule::NoFc], 1);
  watch(w, {key(3000), dev(3010, {0x04})}, 3010);
  auto held = w.restart();
  ASSERT_EQ(held.size(), 1u) << "it says what it held about the dropped message";
  EXPECT_EQ(watch(w, {key(3500), fc(3600)}, 5000), std::vector<Rule>{});
}

}  // namespace
