// The conformance run's grades, with the times given: a run is a list of
// what the device sent and what the run did, each at its moment.
#include <gtest/gtest.h>

#include "events.h"
#include "judge.h"

namespace {

using device::Grade;
using device::Side;

// One step of a run: device or program bytes, or the run's own doing.
struct Step {
  enum What { DEVICE, PROGRAM, WITHHOLD, RELEASE, CLOSE, REOPEN, LINE_ERROR } what;
  int64_t ms;
  std::vector<uint8_t> bytes;
};
Step dev(int64_t ms, std::vector<uint8_t> b) { return {Step::DEVICE, ms, b}; }
Step fc(int64_t ms) { return {Step::PROGRAM, ms, {0xFC}}; }
Step at(Step::What what, int64_t ms) { return {what, ms, {}}; }
std::vector<Step> keyAndFc(int64_t ms) { return {dev(ms, {0x84, 0x1E, 0x41}), fc(ms + 200)}; }

std::vector<Grade> judge(const std::vector<Step> &steps, bool marks = false,
                         int64_t runMs = 60000) {
  device::Watch watch;
  device::Judge j(marks, runMs * 1000);
  auto take = [&](const device::Sightings &batch) {
    for (const auto &s : batch)
      if (!s.isWarning || s.rule != device::Rule::NoFc) j.sighting(s);
  };
  for (const Step &s : steps) {
    int64_t us = s.ms * 1000;
    if (s.what == Step::DEVICE || s.what == Step::PROGRAM)
      for (uint8_t b : s.bytes)
        take(watch.feed(s.what == Step::DEVICE ? Side::Device : Side::Program, b, us));
    using device::Event;
    const Event doings[] = {Event::COUNT,   Event::COUNT,      Event::Withhold,
                            Event::Release, Event::PortClosed, Event::PortOpen};
    if (s.what == Step::REOPEN) take(watch.restart());
    if (s.what != Step::LINE_ERROR && doings[s.what] != Event::COUNT)
      (j.*device::kindOf(doings[s.what]).judge)(us, !watch.sides[(int)Side::Device].bytes.empty());
    if (s.what == Step::LINE_ERROR)
      take(watch.advance(us)), take({watch.warn(device::Rule::ParityError, us, "byte 41")});
  }
  take(watch.advance(600000000));
  return j.grades();
}

// The grades as "rule:P", "rule:F" or "rule:N", in order.
std::string kinds(const std::vector<Grade> &grades) {
  std::string text;
  for (const Grade &g : grades) text += g.rule + ":" + "PFN"[g.kind] + " ";
  return text;
}

// A device that does everything right: keystrokes each after the FC, the
// withheld FC waited out, a keystroke after it, messages after the reopen.
std::vector<Step> goodRun() {
  std::vector<Step> s;
  auto keys = [&](std::vector<int64_t> times) {
    for (int64_t ms : times) s.push_back(dev(ms, {0x84, 0x1E, 0x41})), s.push_back(fc(ms + 200));
  };
  keys({0, 500, 1000});
  s.push_back(dev(2000, {0x84, 0x1E, 0x41}));
  s.push_back(at(Step::WITHHOLD, 2100));
  s.push_back(dev(3000, {0xCC}));  // a query meanwhile is fine
  s.push_back(at(Step::RELEASE, 4100));
  s.push_back(fc(4100));
  keys({4300, 4800});
  s.push_back(at(Step::CLOSE, 6000));
  s.push_back(at(Step::REOPEN, 7000));
  keys({7500});
  return s;
}

TEST(ConformGradingTest, GradesOnEvidenceOnly) {
  std::vector<Step> breaker = goodRun();
  breaker.push_back(dev(8000, {0x04, 0x9E, 0x41}));
  breaker.push_back(dev(8050, {0x84, 0x30, 0x42}));
  const struct {
    const char *what;
    std::vector<Step> steps;
    std::string expected;
  } rows[] = {
      {"a device that does everything right", goodRun(),
       "forms:P header-bit7:P data-bit7:P gaps:P waits-for-fc:P withheld-fc:P reopen:P "
       "query-flood:P "},
      {"a device that sends nothing",
       {},
       "forms:N header-bit7:N data-bit7:N gaps:N waits-for-fc:N withheld-fc:N reopen:N "
       "query-flood:N "},
      {"one keystroke shows nothing about waiting", keyAndFc(0),
       "forms:P header-bit7:P data-bit7:P gaps:P waits-for-fc:N withheld-fc:N reopen:N "
       "query-flood:N "},
      {"a device that breaks rules after the reopen", breaker,
       "forms:P header-bit7:F data-bit7:F gaps:P waits-for-fc:F withheld-fc:P reopen:F "
       "query-flood:P "},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(kinds(judge(row.steps)), row.expected);
  }
}

// The numbers the grade gives, and the moment the answers fell a tick behind:
// 250 queries a second the line keeps up with, then 500 it does not.
TEST(ConformGradingTest, QueryFloodGivesTheNumbers) {
  std::vector<Step> steps;
  for (int64_t ms = 0; ms < 1000; ms += 4) steps.push_back(dev(ms, {0xCC}));
  EXPECT_EQ(kinds(judge(steps)),  // one-byte messages only: no evidence for the data bytes
            "forms:P header-bit7:P data-bit7:N gaps:N waits-for-fc:N withheld-fc:N reopen:N "
            "query-flood:P ");
  for (int64_t ms = 1000; ms < 1500; ms += 2) steps.push_back(dev(ms, {0xCC}));
  EXPECT_EQ(device::gradeLine(judge(steps)[7]),
            "FAIL  query-flood: up to 250 queries sent and 0 answered in a second, while the "
            "line carries back 291 answers a second; from 1274.0 ms the answers fell more than "
            "a tick behind");
}

TEST(ConformGradingTest, WithheldFc) {
  auto held = [](std::vector<Step> during, std::vector<Step> after) {
    std::vector<Step> s = {dev(0, {0x84, 0x1E, 0x41}), at(Step::WITHHOLD, 100)};
    s.insert(s.end(), during.begin(), during.end());
    s.push_back(at(Step::RELEASE, 2100));
    s.push_back(fc(2100));
    s.insert(s.end(), after.begin(), after.end());
    return s;
  };
  const struct {
    const char *what;
    std::vector<Step> steps;
    int64_t runMs;
    Grade::Kind expected;
  } rows[] = {
      {"waited, and went on after the FC", held({}, keyAndFc(2300)), 60000, Grade::PASS},
      {"a keystroke during the hold", held(keyAndFc(1000), keyAndFc(2300)), 60000, Grade::FAIL},
      {"half a message when the FC went", held({dev(1900, {0x84})}, {dev(2150, {0x1E, 0x41})}),
       60000, Grade::FAIL},
      {"nothing after the FC: no evidence of waiting", held({}, {}), 60000, Grade::NOT_GRADED},
      {"a run too short to withhold", keyAndFc(0), 3700, Grade::NOT_GRADED},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(judge(row.steps, false, row.runMs)[5].kind, row.expected);
  }
}

TEST(ConformGradingTest, LineErrorsAreGradedOnlyWhereThePortMarksThem) {
  std::vector<Step> steps = goodRun();
  EXPECT_EQ(judge(steps, false).size(), 8u) << "a pseudo-terminal cannot tell";
  EXPECT_EQ(judge(steps, true).back().kind, Grade::PASS);
  steps.push_back({Step::LINE_ERROR, 8000, {}});
  EXPECT_EQ(judge(steps, true).back().kind, Grade::FAIL);
}

}  // namespace
