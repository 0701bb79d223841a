// The conformance run's grades: what the device did, taken in as it happens
// (messages and warnings from the watch, and the run's own doings), graded
// at the end, one grade a rule. A rule is passed only on evidence: with none
// it is not graded, and the grade says what to do to give some.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "link_watch.h"

namespace device {

struct Grade {
  enum Kind { PASS, FAIL, NOT_GRADED } kind;
  std::string rule, evidence;
};

class ConformJudge {
 public:
  // `marksLineErrors`: the port reports line errors, so they can be graded.
  ConformJudge(bool marksLineErrors, bool runCanWithhold)
      : marksLineErrors_(marksLineErrors), runCanWithhold_(runCanWithhold) {}

  void sighting(const Sighting &s);
  void withheld(double ms);
  // The withheld FC went out; `halfMessage`: a message of the device's was
  // begun and not finished.
  void released(double ms, bool halfMessage);
  void portClosed();
  void portReopened(double ms);

  int keystrokes() const { return keystrokes_; }
  std::vector<Grade> grades() const;

 private:
  Grade byRules(const char *name, std::vector<Rule> rules, int evidence, const std::string &passed,
                const std::string &notGraded) const;
  Grade withheldFc() const;
  Grade reopen() const;

  bool marksLineErrors_, runCanWithhold_;
  std::vector<Warning> warnings_;
  std::map<int, int> commands_;  // how many messages of each command
  int messages_ = 0, threeByte_ = 0, keystrokes_ = 0;
  enum { BEFORE, HOLDING, AFTER } hold_ = BEFORE;
  double heldAtMs_ = 0, releasedAtMs_ = 0, firstKeyDuringHoldMs_ = -1, nextKeyAfterMs_ = -1;
  int keysDuringHold_ = 0, othersDuringHold_ = 0;
  bool halfMessage_ = false;
  enum { OPEN, CLOSED, REOPENED } port_ = OPEN;
  double reopenedAtMs_ = 0;
  int messagesAfter_ = 0, warningsAfter_ = 0;
};

// "PASS  forms: ...", "FAIL  gaps: ...", "NOT GRADED  reopen: ..."
std::string gradeLine(const Grade &g);
// "7 passed, 0 failed, 1 not graded"
std::string gradeSummary(const std::vector<Grade> &grades);
// 0 when every rule passed, 1 on a failure, 3 when nothing failed and
// something was not graded.
int gradeExitCode(const std::vector<Grade> &grades);

}  // namespace device
