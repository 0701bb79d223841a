// The conformance run's plan (when it withholds an FC and closes the port)
// and its grades, with the times given: a run is a list of what the device
// sent and what the run did, each at its moment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conform_judge.h"
#include "conform_plan.h"
#include "link_watch.h"

namespace {

using device::ConformJudge;
using device::ConformPlan;
using device::Grade;
using device::LinkWatch;
using device::Side;

// One step of a run: device or program bytes, or the run's own doing.
struct Step {
  enum What { DEVICE, PROGRAM, WITHHOLD, RELEASE, CLOSE, REOPEN, LINE_ERROR } what;
  double ms;
  std::vector<uint8_t> bytes;
};
Step dev(double ms, std::vector<uint8_t> b) { return {Step::DEVICE, ms, b}; }
Step fc(double ms) { return {Step::PROGRAM, ms, {0xFC}}; }
Step at(Step::What what, double ms) { return {what, ms, {}}; }

// A keystroke and its FC a tick later.
std::vector<Step> keyAndFc(double ms) { return {dev(ms, {0x84, 0x1E, 0x41}), fc(ms + 200)}; }

std::vector<Grade> judge(const std::vector<Step> &steps, bool marks = false,
                         bool canWithhold = true) {
  LinkWatch watch;
  ConformJudge j(marks, canWithhold);
  auto take = [&](const std::vector<device::Sighting> &batch) {
    for (const auto &s : batch) j.sighting(s);
  };
  for (const Step &s : steps) {
    switch (s.what) {
      case Step::DEVICE:
      case Step::PROGRAM:
        for (uint8_t b : s.bytes)
          take(watch.feed(s.what == Step::DEVICE ? Side::Device : Side::Program, b, s.ms));
        break;
      case Step::WITHHOLD: j.withheld(s.ms); break;
      case Step::RELEASE: j.released(s.ms, watch.deviceMessageOpen()); break;
      case Step::CLOSE: j.portClosed(); break;
      case Step::REOPEN: watch.restart(), j.portReopened(s.ms); break;
      case Step::LINE_ERROR: take(watch.lineError(device::LineByte::BAD, 0x41, s.ms)); break;
    }
  }
  take(watch.advance(60000));
  return j.grades();
}

// The grades as "rule:P", "rule:F" or "rule:N", in order.
std::string kinds(const std::vector<Grade> &grades) {
  std::string text;
  for (const Grade &g : grades) text += g.rule + ":" + "PFN"[g.kind] + " ";
  return text;
}

// A device that does everything right: keystrokes each after the FC, the
// withheld FC waited out, a keystroke after it, and messages after the reopen.
std::vector<Step> goodRun() {
  std::vector<Step> s;
  auto keys = [&](std::vector<double> times) {
    for (double ms : times) s.push_back(dev(ms, {0x84, 0x1E, 0x41})), s.push_back(fc(ms + 200));
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
  struct Row {
    const char *what;
    std::vector<Step> steps;
    std::string expected;
    int exitCode;
  };
  std::vector<Step> breaker = goodRun();
  breaker.push_back(dev(8000, {0x04, 0x9E, 0x41}));
  breaker.push_back(dev(8050, {0x84, 0x30, 0x42}));
  std::vector<Step> queriesOnly = {dev(0, {0xCC}), dev(300, {0xD4})};
  const Row rows[] = {
      {"a device that does everything right", goodRun(),
       "forms:P header-bit7:P data-bit7:P gaps:P waits-for-fc:P withheld-fc:P reopen:P ", 0},
      {"a device that sends nothing",
       {},
       "forms:N header-bit7:N data-bit7:N gaps:N waits-for-fc:N withheld-fc:N reopen:N ",
       3},
      {"a device that never sends a keystroke", queriesOnly,
       "forms:P header-bit7:P data-bit7:N gaps:N waits-for-fc:N withheld-fc:N reopen:N ", 3},
      {"one keystroke shows nothing about waiting", keyAndFc(0),
       "forms:P header-bit7:P data-bit7:P gaps:P waits-for-fc:N withheld-fc:N reopen:N ", 3},
      {"a device that breaks rules after the reopen", breaker,
       "forms:P header-bit7:F data-bit7:F gaps:P waits-for-fc:F withheld-fc:P reopen:F ", 1},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    auto grades = judge(row.steps);
    EXPECT_EQ(kinds(grades), row.expected);
    EXPECT_EQ(device::gradeExitCode(grades), row.exitCode);
  }
}

TEST(ConformGradingTest, WithheldFc) {
  struct Row {
    const char *what;
    std::vector<Step> steps;
    bool canWithhold;
    Grade::Kind expected;
    std::string evidence;
  };
  auto held = [](std::vector<Step> during, std::vector<Step> after) {
    std::vector<Step> s = {dev(0, {0x84, 0x1E, 0x41}), at(Step::WITHHOLD, 100)};
    s.insert(s.end(), during.begin(), during.end());
    s.push_back(at(Step::RELEASE, 2100));
    s.push_back(fc(2100));
    s.insert(s.end(), after.begin(), after.end());
    return s;
  };
  std::vector<Step> flood;
  for (double ms = 200; ms < 2000; ms += 20) flood.push_back(dev(ms, {0x84, 0x1E, 0x41}));
  const std::vector<Step> none, endsHeld = {dev(0, {0x84, 0x1E, 0x41}), at(Step::WITHHOLD, 100)};
  const Row rows[] = {
      {"waited, and went on after the FC", held({}, keyAndFc(2300)), true, Grade::PASS,
       "FC withheld 2000 ms: no keystroke meanwhile (0 other messages); the next came 200 ms "
       "after the FC"},
      {"keystrokes flooded during the hold", held(flood, keyAndFc(2300)), true, Grade::FAIL,
       "90 keystrokes sent while the FC was withheld; the first 100 ms into the hold"},
      {"half a message when the FC went", held({dev(1900, {0x84})}, {dev(2150, {0x1E, 0x41})}),
       true, Grade::FAIL, "a message was left half sent while its FC was withheld"},
      {"nothing after the FC: no evidence of waiting", held({}, {}), true, Grade::NOT_GRADED,
       "no keystroke came after the withheld FC, so nothing shows the device waited: keep "
       "pressing keys through the run"},
      {"the run ended during the hold", endsHeld, true, Grade::NOT_GRADED,
       "the run ended while the FC was withheld"},
      {"no keystroke to withhold from", none, true, Grade::NOT_GRADED,
       "no keystroke came to withhold an FC from: press keys on the device"},
      {"a run too short to withhold", keyAndFc(0), false, Grade::NOT_GRADED,
       "the run is too short to withhold an FC: give it 4 s or more"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    Grade g = judge(row.steps, false, row.canWithhold)[5];
    ASSERT_EQ(g.rule, "withheld-fc");
    EXPECT_EQ(g.kind, row.expected);
    EXPECT_EQ(g.evidence, row.evidence);
  }
}

TEST(ConformGradingTest, LineErrorsAreGradedOnlyWhereThePortMarksThem) {
  std::vector<Step> steps = goodRun();
  EXPECT_EQ(judge(steps, false).size(), 7u) << "a pseudo-terminal cannot tell";
  auto clean = judge(steps, true);
  ASSERT_EQ(clean.size(), 8u);
  EXPECT_EQ(device::gradeLine(clean.back()), "PASS  line: no parity or framing error, no break");
  steps.push_back({Step::LINE_ERROR, 8000, {}});
  auto failed = judge(steps, true);
  EXPECT_EQ(failed.back().kind, Grade::FAIL);
  EXPECT_EQ(device::gradeSummary(failed), "7 passed, 1 failed, 0 not graded");
}

TEST(ConformGradingTest, FailuresNameTheCountAndTheFirst) {
  auto grades = judge({dev(0, {0x84, 0x1E}), dev(500, {0x41})});
  EXPECT_EQ(device::gradeLine(grades[3]),
            "FAIL  gaps: 1 time; first at 200.0 ms: 84 1E, no third byte after 200 ms");
}

// A 10 s run: an FC withheld from 2 s on, and only when the hold ends a
// second before the run does; the close (due at 6 s) waits for the
// withheld FC; no hold while the port is closed.
TEST(ConformPlanTest, TheHoldAndTheCloseNeverOverlap) {
  EXPECT_FALSE(ConformPlan(10000).withhold(1999)) << "before a fifth of the run";
  EXPECT_FALSE(ConformPlan(10000).withhold(7001))
      << "the hold would end within a second of the end";
  EXPECT_FALSE(ConformPlan(3700).canWithhold());
  ConformPlan plan(10000);
  ASSERT_TRUE(plan.withhold(5500));
  EXPECT_FALSE(plan.withhold(5600)) << "one hold a run";
  EXPECT_FALSE(plan.closeDue(6000)) << "the FC is still withheld";
  EXPECT_FALSE(plan.releaseDue(7499));
  EXPECT_TRUE(plan.releaseDue(7500));
  plan.released();
  EXPECT_TRUE(plan.closeDue(7500));
  plan.closed(7500);
  EXPECT_FALSE(plan.reopenDue(8499));
  EXPECT_TRUE(plan.reopenDue(8500));
  ConformPlan closed(10000);
  closed.closed(6000);
  EXPECT_FALSE(closed.withhold(6100)) << "no hold while the port is closed";
}

}  // namespace
