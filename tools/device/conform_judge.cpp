#include "conform_judge.h"

#include <cmath>

#include "conform_plan.h"
#include "format.h"
#include "modes.h"

namespace device {

namespace {
bool isKeystroke(int command) { return command == KEY_STROKE || command == SYS_KEY_STROKE; }
}  // namespace

void ConformJudge::sighting(const Sighting &s) {
  if (s.isWarning) {
    // This side answers late on purpose (the withheld FC): not the device's doing.
    if (s.warning.rule == Rule::NoFc) return;
    warnings_.push_back(s.warning);
    // Line errors have a grade of their own, and a request with one Shift bit
    // is unsound use rather than a broken rule; after the reopen only the
    // broken rules of the messages count.
    bool lineError = s.warning.rule == Rule::ParityError || s.warning.rule == Rule::LineBreak;
    if (port_ == REOPENED && !lineError && s.warning.rule != Rule::OneShiftBit) warningsAfter_++;
    return;
  }
  if (s.message.side != Side::Device) return;
  const Message &m = s.message.message;
  double ms = s.message.lastMs();
  messages_++;
  commands_[m.command]++;
  if (m.bytes.size() == 3) threeByte_++;
  if (port_ == REOPENED) messagesAfter_++;
  bool keystroke = isKeystroke(m.command);
  if (keystroke) keystrokes_++;
  if (hold_ == HOLDING) {
    if (!keystroke) {
      othersDuringHold_++;
    } else if (keysDuringHold_++ == 0) {
      firstKeyDuringHoldMs_ = ms;
    }
  }
  if (hold_ == AFTER && keystroke && nextKeyAfterMs_ < 0) nextKeyAfterMs_ = ms;
}

void ConformJudge::withheld(double ms) {
  hold_ = HOLDING;
  heldAtMs_ = ms;
}

void ConformJudge::released(double ms, bool halfMessage) {
  hold_ = AFTER;
  releasedAtMs_ = ms;
  halfMessage_ = halfMessage;
}

void ConformJudge::portClosed() { port_ = CLOSED; }

void ConformJudge::portReopened(double ms) {
  port_ = REOPENED;
  reopenedAtMs_ = ms;
}

Grade ConformJudge::byRules(const char *name, std::vector<Rule> rules, int evidence,
                            const std::string &passed, const std::string &notGraded) const {
  const Warning *first = nullptr;
  int n = 0;
  for (const Warning &w : warnings_)
    for (Rule r : rules)
      if (w.rule == r && n++ == 0) first = &w;
  if (n > 0)
    return {Grade::FAIL, name,
            format("%d time%s; first at %.1f ms: ", n, n == 1 ? "" : "s", first->atMs) +
                first->evidence};
  if (evidence == 0) return {Grade::NOT_GRADED, name, notGraded};
  return {Grade::PASS, name, passed};
}

Grade ConformJudge::withheldFc() const {
  const char *name = "withheld-fc";
  if (hold_ == BEFORE)
    return {Grade::NOT_GRADED, name,
            runCanWithhold_
                ? "no keystroke came to withhold an FC from: press keys on the device"
                : format("the run is too short to withhold an FC: give it %.0f s or "
                         "more",
                         std::ceil((WITHHOLD_MS + AFTER_HOLD_MS) / (1 - WITHHOLD_AT) / 1000))};
  if (hold_ == HOLDING) return {Grade::NOT_GRADED, name, "the run ended while the FC was withheld"};
  if (keysDuringHold_ > 0)
    return {Grade::FAIL, name,
            format("%d keystroke%s sent while the FC was withheld; the first %.0f ms into the "
                   "hold",
                   keysDuringHold_, keysDuringHold_ == 1 ? "" : "s",
                   firstKeyDuringHoldMs_ - heldAtMs_)};
  if (halfMessage_)
    return {Grade::FAIL, name, "a message was left half sent while its FC was withheld"};
  if (nextKeyAfterMs_ < 0)
    return {Grade::NOT_GRADED, name,
            "no keystroke came after the withheld FC, so nothing shows the device waited: keep "
            "pressing keys through the run"};
  return {Grade::PASS, name,
          format("FC withheld %.0f ms: no keystroke meanwhile (%d other messages); the next came "
                 "%.0f ms after the FC",
                 WITHHOLD_MS, othersDuringHold_, nextKeyAfterMs_ - releasedAtMs_)};
}

Grade ConformJudge::reopen() const {
  const char *name = "reopen";
  if (port_ != REOPENED)
    return {Grade::NOT_GRADED, name, "the run ended before the port was reopened"};
  if (messagesAfter_ == 0)
    return {Grade::NOT_GRADED, name,
            "no message after the port reopened: press keys after the pause"};
  std::string text =
      format("%d messages after the port reopened at %.1f ms, %s", messagesAfter_, reopenedAtMs_,
             warningsAfter_ == 0 ? "all clean" : "with warnings (see above)");
  return {warningsAfter_ == 0 ? Grade::PASS : Grade::FAIL, name, text};
}

std::vector<Grade> ConformJudge::grades() const {
  std::string seen;
  for (auto &c : commands_) seen += format(" %d:%d", c.first, c.second);
  std::vector<Grade> grades;
  grades.push_back(byRules("forms", {Rule::IgnoredCommand, Rule::OneByteData}, messages_,
                           format("%d messages (command:count%s)", messages_, seen.c_str()),
                           "no message from the device: press keys on the device"));
  grades.push_back(byRules("header-bit7", {Rule::HeaderBit7}, messages_,
                           format("every header of %d messages has bit 7 set", messages_),
                           "no message from the device"));
  grades.push_back(
      byRules("data-bit7", {Rule::DataBit7}, threeByte_,
              format("every data byte of %d three-byte messages has bit 7 clear", threeByte_),
              "no three-byte message: press keys on the device"));
  grades.push_back(byRules("gaps", {Rule::SlowMessage, Rule::Incomplete}, threeByte_,
                           format("each of %d three-byte messages within one tick", threeByte_),
                           "no three-byte message: press keys on the device"));
  grades.push_back(
      byRules("waits-for-fc", {Rule::KeyBeforeFc}, keystrokes_ >= 2 ? keystrokes_ : 0,
              format("%d keystrokes, each after the FC of the one before", keystrokes_),
              format("%d keystroke%s: press keys on the device during the run", keystrokes_,
                     keystrokes_ == 1 ? "" : "s")));
  grades.push_back(withheldFc());
  grades.push_back(reopen());
  if (marksLineErrors_)
    grades.push_back(byRules("line", {Rule::ParityError, Rule::LineBreak}, messages_,
                             "no parity or framing error, no break", "no byte from the device"));
  return grades;
}

std::string gradeLine(const Grade &g) {
  const char *kinds[] = {"PASS", "FAIL", "NOT GRADED"};
  return std::string(kinds[g.kind]) + "  " + g.rule + ": " + g.evidence;
}

std::string gradeSummary(const std::vector<Grade> &grades) {
  int counts[3] = {0, 0, 0};
  for (const Grade &g : grades) counts[g.kind]++;
  return format("%d passed, %d failed, %d not graded", counts[Grade::PASS], counts[Grade::FAIL],
                counts[Grade::NOT_GRADED]);
}

int gradeExitCode(const std::vector<Grade> &grades) {
  bool notGraded = false;
  for (const Grade &g : grades) {
    if (g.kind == Grade::FAIL) return EXIT_FAILED;
    notGraded = notGraded || g.kind == Grade::NOT_GRADED;
  }
  return notGraded ? EXIT_NOT_GRADED : EXIT_PASSED;
}

}  // namespace device
