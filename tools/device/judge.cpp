#include "judge.h"

#include <algorithm>
#include <cmath>

namespace device {

namespace {
// Three-byte answers the line carries back in a second: 291.
const int LINE_ANSWERS = (int)std::lround(1e6 / (3 * LINE_BYTE_US));

const char *times(long n) { return n == 1 ? "" : "s"; }

// Failed when any of the rules was broken; else passed on `evidence`, or not graded.
Grade byRules(const Judge &j, const char *name, std::vector<Rule> rules, int evidence,
              const std::string &passed, const std::string &notGraded) {
  const Judge::Broken *first = nullptr;
  long n = 0;
  for (Rule rule : rules) {
    const Judge::Broken &b = j.broken[(int)rule];
    if (b.count > 0 && (!first || b.order < first->order)) first = &b;
    n += b.count;
  }
  if (n > 0)
    return {Grade::FAIL, name,
            format("%ld time%s; first at %.1f ms: ", n, times(n), (double)first->atUs / 1000) +
                first->evidence};
  return evidence == 0 ? Grade{Grade::NOT_GRADED, name, notGraded}
                       : Grade{Grade::PASS, name, passed};
}

Grade withheldFc(const Judge &j) {
  const char *name = "withheld-fc";
  bool canWithhold =
      (int64_t)((double)j.runUs * WITHHOLD_AT) + WITHHOLD_US + AFTER_HOLD_US <= j.runUs;
  if (j.fc == Judge::BEFORE)
    return {Grade::NOT_GRADED, name,
            canWithhold
                ? "no keystroke came to withhold an FC from: press keys on the device"
                : format("the run is too short to withhold an FC: give it %.0f s or more",
                         std::ceil((WITHHOLD_US + AFTER_HOLD_US) / (1 - WITHHOLD_AT) / 1e6))};
  if (j.fc == Judge::WITHHELD)
    return {Grade::NOT_GRADED, name, "the run ended while the FC was withheld"};
  if (j.keysWithheld > 0)
    return {Grade::FAIL, name,
            format("%d keystroke%s sent while the FC was withheld; the first %.0f ms into the hold",
                   j.keysWithheld, times(j.keysWithheld),
                   (double)(j.firstKeyWithheldUs - j.withheldAtUs) / 1000)};
  if (j.halfMessage)
    return {Grade::FAIL, name, "a message was left half sent while its FC was withheld"};
  if (j.nextKeyAfterUs < 0)
    return {Grade::NOT_GRADED, name,
            "no keystroke came after the withheld FC, so nothing shows the device waited: keep "
            "pressing keys through the run"};
  return {Grade::PASS, name,
          format("FC withheld %.0f ms: no keystroke meanwhile (%d other messages); the next came "
                 "%.0f ms after the FC",
                 (double)WITHHOLD_US / 1000, j.othersWithheld,
                 (double)(j.nextKeyAfterUs - j.sentAtUs) / 1000)};
}

Grade reopen(const Judge &j) {
  if (j.port != Judge::REOPENED)
    return {Grade::NOT_GRADED, "reopen", "the run ended before the port was reopened"};
  if (j.messagesAfter == 0)
    return {Grade::NOT_GRADED, "reopen",
            "no message after the port reopened: press keys after the pause"};
  return {j.warningsAfter == 0 ? Grade::PASS : Grade::FAIL, "reopen",
          format("%d messages after the port reopened at %.1f ms, %s", j.messagesAfter,
                 (double)j.reopenedAtUs / 1000,
                 j.warningsAfter == 0 ? "all clean" : "with warnings (see above)")};
}

// The program answers a query with three bytes, and the line carries 291 of
// those a second: a device that asks faster fills the program's queues, and
// what it sends after the queries waits behind them.
Grade queryFlood(const Judge &j) {
  const char *name = "query-flood";
  if (j.queries == 0)
    return {Grade::NOT_GRADED, name, "no query came: nothing to grade (send CC on the device)"};
  if (j.floodAtUs >= 0)
    return {Grade::FAIL, name,
            format("up to %d queries sent and %d answered in a second, while the line carries "
                   "back %d answers a second; from %.1f ms the answers fell more than a tick "
                   "behind",
                   j.queriesIn.most, j.answersIn.most, LINE_ANSWERS, (double)j.floodAtUs / 1000)};
  return {Grade::PASS, name,
          format("%d queries, %d answered; up to %d sent and %d answered in a second, each "
                 "answer within a tick of the line (it carries back %d a second)",
                 j.queries, j.answers, j.queriesIn.most, j.answersIn.most, LINE_ANSWERS)};
}
}  // namespace

void Judge::PerSecond::add(int64_t us) {
  if (us / 1000000 != second) second = us / 1000000, now = 0;
  most = std::max(most, ++now);
}

void Judge::sighting(const Sighting &s) {
  if (s.isWarning) {
    Broken &b = broken[(int)s.rule];
    if (b.count++ == 0) b.order = warnings, b.atUs = s.atUs, b.evidence = s.evidence;
    warnings++;
    // Line errors have a grade of their own, and a request with one Shift bit
    // is unsound use rather than a broken rule.
    bool counts =
        s.rule != Rule::ParityError && s.rule != Rule::LineBreak && s.rule != Rule::OneShiftBit;
    if (port == REOPENED && counts) warningsAfter++;
    return;
  }
  const Message &m = s.message;
  int64_t us = s.byteUs.back();
  if (s.side == Side::Program) {
    if (m.command == MODIFIER_FLAGS) answers++, answersIn.add(us);
    return;
  }
  messages++;
  commands[m.command]++;
  if (m.bytes.size() == 3) threeByte++;
  if (port == REOPENED) messagesAfter++;
  if (m.command == QUERY_FLAGS) {
    // Each answer takes three bytes' time on the line, one after the other.
    queries++, queriesIn.add(us);
    answerLineFreeUs = std::max(answerLineFreeUs, (double)us) + 3 * LINE_BYTE_US;
    if (answerLineFreeUs - (double)us > TICK_US && floodAtUs < 0) floodAtUs = us;
  }
  bool keystroke = isKeystroke(m.command);
  if (keystroke) keystrokes++;
  if (fc == WITHHELD && !keystroke) othersWithheld++;
  if (fc == WITHHELD && keystroke && keysWithheld++ == 0) firstKeyWithheldUs = us;
  if (fc == SENT && keystroke && nextKeyAfterUs < 0) nextKeyAfterUs = us;
}

void Judge::fcWithheld(int64_t us, bool) { fc = WITHHELD, withheldAtUs = us; }
void Judge::fcSent(int64_t us, bool halfSent) { fc = SENT, sentAtUs = us, halfMessage = halfSent; }
void Judge::portClosed(int64_t us, bool) { port = CLOSED, closedAtUs = us; }
void Judge::portOpened(int64_t us, bool) { port = REOPENED, reopenedAtUs = us; }

std::vector<Grade> Judge::grades() const {
  std::string seen;
  for (auto &c : commands) seen += format(" %d:%d", c.first, c.second);
  const std::string pressKeys = "no three-byte message: press keys on the device";
  std::vector<Grade> g = {
      byRules(*this, "forms", {Rule::IgnoredCommand, Rule::OneByteData}, messages,
              format("%d messages (command:count%s)", messages, seen.c_str()),
              "no message from the device: press keys on the device"),
      byRules(*this, "header-bit7", {Rule::HeaderBit7}, messages,
              format("every header of %d messages has bit 7 set", messages),
              "no message from the device"),
      byRules(*this, "data-bit7", {Rule::DataBit7}, threeByte,
              format("every data byte of %d three-byte messages has bit 7 clear", threeByte),
              pressKeys),
      byRules(*this, "gaps", {Rule::SlowMessage, Rule::Incomplete}, threeByte,
              format("each of %d three-byte messages within one tick", threeByte), pressKeys),
      byRules(*this, "waits-for-fc", {Rule::KeyBeforeFc}, keystrokes >= 2 ? keystrokes : 0,
              format("%d keystrokes, each after the FC of the one before", keystrokes),
              format("%d keystroke%s: press keys on the device during the run", keystrokes,
                     times(keystrokes))),
      withheldFc(*this),
      reopen(*this),
      queryFlood(*this)};
  if (marks)
    g.push_back(byRules(*this, "line", {Rule::ParityError, Rule::LineBreak}, messages,
                        "no parity or framing error, no break", "no byte from the device"));
  return g;
}

std::string gradeLine(const Grade &g) {
  const char *kinds[] = {"PASS", "FAIL", "NOT GRADED"};
  return std::string(kinds[g.kind]) + "  " + g.rule + ": " + g.evidence;
}

}  // namespace device
