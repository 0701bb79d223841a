#include "judge.h"

#include <algorithm>
#include <cmath>

namespace device {

namespace {
// Three-byte answers the line carries back in a second: 291.
const int LINE_ANSWERS = (int)std::lround(1e6 / (3 * LINE_BYTE_US));

int most(const std::map<int64_t, int> &perSecond) {
  int m = 0;
  for (const auto &s : perSecond) m = std::max(m, s.second);
  return m;
}
}  // namespace

void Judge::sighting(const Sighting &s) {
  if (s.isWarning) {
    warnings_.push_back(s);
    // Line errors have a grade of their own, and a request with one Shift bit
    // is unsound use rather than a broken rule.
    bool counts =
        s.rule != Rule::ParityError && s.rule != Rule::LineBreak && s.rule != Rule::OneShiftBit;
    if (port_ == REOPENED && counts) warningsAfter_++;
    return;
  }
  const Message &m = s.message;
  int64_t us = s.byteUs.back();
  if (s.side == Side::Program) {
    if (m.command == MODIFIER_FLAGS) answers_++, answersIn_[us / 1000000]++;
    return;
  }
  messages_++;
  commands_[m.command]++;
  if (m.bytes.size() == 3) threeByte_++;
  if (port_ == REOPENED) messagesAfter_++;
  if (m.command == QUERY_FLAGS) {
    // Each answer takes three bytes' time on the line, one after the other.
    queries_++, queriesIn_[us / 1000000]++;
    answerLineFreeUs_ = std::max(answerLineFreeUs_, (double)us) + 3 * LINE_BYTE_US;
    if (answerLineFreeUs_ - (double)us > TICK_US && floodAtUs_ < 0) floodAtUs_ = us;
  }
  bool keystroke = isKeystroke(m.command);
  if (keystroke) keystrokes_++;
  if (hold_ == HOLDING && !keystroke) othersInHold_++;
  if (hold_ == HOLDING && keystroke && keysInHold_++ == 0) firstKeyInHoldUs_ = us;
  if (hold_ == AFTER && keystroke && nextKeyAfterUs_ < 0) nextKeyAfterUs_ = us;
}

void Judge::event(const std::string &name, int64_t us, bool halfMessage) {
  if (name == "withhold") hold_ = HOLDING, heldAtUs_ = us;
  if (name == "release") hold_ = AFTER, releasedAtUs_ = us, halfMessage_ = halfMessage;
  if (name == "port-closed") port_ = CLOSED;
  if (name == "port-open") port_ = REOPENED, reopenedAtUs_ = us;
}

Grade Judge::byRules(const char *name, std::vector<Rule> rules, int evidence,
                     const std::string &passed, const std::string &notGraded) const {
  const Sighting *first = nullptr;
  int n = 0;
  for (const Sighting &w : warnings_)
    if (std::find(rules.begin(), rules.end(), w.rule) != rules.end() && n++ == 0) first = &w;
  if (n > 0)
    return {
        Grade::FAIL, name,
        format("%d time%s; first at %.1f ms: ", n, n == 1 ? "" : "s", (double)first->atUs / 1000) +
            first->evidence};
  if (evidence == 0) return {Grade::NOT_GRADED, name, notGraded};
  return {Grade::PASS, name, passed};
}

Grade Judge::withheldFc() const {
  const char *name = "withheld-fc";
  if (hold_ == BEFORE)
    return {Grade::NOT_GRADED, name,
            canWithhold(runUs_)
                ? "no keystroke came to withhold an FC from: press keys on the device"
                : format("the run is too short to withhold an FC: give it %.0f s or more",
                         std::ceil((WITHHOLD_US + AFTER_HOLD_US) / (1 - WITHHOLD_AT) / 1e6))};
  if (hold_ == HOLDING) return {Grade::NOT_GRADED, name, "the run ended while the FC was withheld"};
  if (keysInHold_ > 0)
    return {Grade::FAIL, name,
            format("%d keystroke%s sent while the FC was withheld; the first %.0f ms into the hold",
                   keysInHold_, keysInHold_ == 1 ? "" : "s",
                   (double)(firstKeyInHoldUs_ - heldAtUs_) / 1000)};
  if (halfMessage_)
    return {Grade::FAIL, name, "a message was left half sent while its FC was withheld"};
  if (nextKeyAfterUs_ < 0)
    return {Grade::NOT_GRADED, name,
            "no keystroke came after the withheld FC, so nothing shows the device waited: keep "
            "pressing keys through the run"};
  return {Grade::PASS, name,
          format("FC withheld %.0f ms: no keystroke meanwhile (%d other messages); the next came "
                 "%.0f ms after the FC",
                 (double)WITHHOLD_US / 1000, othersInHold_,
                 (double)(nextKeyAfterUs_ - releasedAtUs_) / 1000)};
}

Grade Judge::reopen() const {
  const char *name = "reopen";
  if (port_ != REOPENED)
    return {Grade::NOT_GRADED, name, "the run ended before the port was reopened"};
  if (messagesAfter_ == 0)
    return {Grade::NOT_GRADED, name,
            "no message after the port reopened: press keys after the pause"};
  return {warningsAfter_ == 0 ? Grade::PASS : Grade::FAIL, name,
          format("%d messages after the port reopened at %.1f ms, %s", messagesAfter_,
                 (double)reopenedAtUs_ / 1000,
                 warningsAfter_ == 0 ? "all clean" : "with warnings (see above)")};
}

// The program answers a query with three bytes, and the line carries 291 of
// those a second: a device that asks faster fills the program's queues, and
// what it sends after the queries waits behind them.
Grade Judge::queryFlood() const {
  const char *name = "query-flood";
  if (queries_ == 0)
    return {Grade::NOT_GRADED, name, "no query came: nothing to grade (send CC on the device)"};
  if (floodAtUs_ >= 0)
    return {Grade::FAIL, name,
            format("up to %d queries sent and %d answered in a second, while the line carries "
                   "back %d answers a second; from %.1f ms the answers fell more than a tick "
                   "behind",
                   most(queriesIn_), most(answersIn_), LINE_ANSWERS, (double)floodAtUs_ / 1000)};
  return {Grade::PASS, name,
          format("%d queries, %d answered; up to %d sent and %d answered in a second, each "
                 "answer within a tick of the line (it carries back %d a second)",
                 queries_, answers_, most(queriesIn_), most(answersIn_), LINE_ANSWERS)};
}

std::vector<Grade> Judge::grades() const {
  std::string seen;
  for (auto &c : commands_) seen += format(" %d:%d", c.first, c.second);
  const std::string pressKeys = "no three-byte message: press keys on the device";
  std::vector<Grade> g;
  g.push_back(byRules("forms", {Rule::IgnoredCommand, Rule::OneByteData}, messages_,
                      format("%d messages (command:count%s)", messages_, seen.c_str()),
                      "no message from the device: press keys on the device"));
  g.push_back(byRules("header-bit7", {Rule::HeaderBit7}, messages_,
                      format("every header of %d messages has bit 7 set", messages_),
                      "no message from the device"));
  g.push_back(byRules(
      "data-bit7", {Rule::DataBit7}, threeByte_,
      format("every data byte of %d three-byte messages has bit 7 clear", threeByte_), pressKeys));
  g.push_back(byRules("gaps", {Rule::SlowMessage, Rule::Incomplete}, threeByte_,
                      format("each of %d three-byte messages within one tick", threeByte_),
                      pressKeys));
  g.push_back(byRules("waits-for-fc", {Rule::KeyBeforeFc}, keystrokes_ >= 2 ? keystrokes_ : 0,
                      format("%d keystrokes, each after the FC of the one before", keystrokes_),
                      format("%d keystroke%s: press keys on the device during the run", keystrokes_,
                             keystrokes_ == 1 ? "" : "s")));
  g.push_back(withheldFc());
  g.push_back(reopen());
  g.push_back(queryFlood());
  if (marks_)
    g.push_back(byRules("line", {Rule::ParityError, Rule::LineBreak}, messages_,
                        "no parity or framing error, no break", "no byte from the device"));
  return g;
}

std::string gradeLine(const Grade &g) {
  const char *kinds[] = {"PASS", "FAIL", "NOT GRADED"};
  return std::string(kinds[g.kind]) + "  " + g.rule + ": " + g.evidence;
}

}  // namespace device
