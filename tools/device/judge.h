// The conformance run's grades: what the device did, taken in as it happens
// (the watch's messages and warnings, and the run's own doings), graded at
// the end, one grade a rule. A rule is passed only on evidence: with none it
// is not graded, and the grade says what to do to give some.
#pragma once

#include <map>

#include "watch.h"

namespace device {

// The run's tests of the device's patience: one FC withheld for 2 s from the
// first keystroke a fifth of the way in, and the port closed for 1 s three
// fifths of the way in. An FC is withheld only when the hold ends a second
// before the run does, so that the device has time to go on.
const int64_t WITHHOLD_US = 2000000, CLOSED_US = 1000000, AFTER_HOLD_US = 1000000;
const double WITHHOLD_AT = 0.2, CLOSE_AT = 0.6;
inline bool canWithhold(int64_t runUs) {
  return (int64_t)((double)runUs * WITHHOLD_AT) + WITHHOLD_US + AFTER_HOLD_US <= runUs;
}

struct Grade {
  enum Kind { PASS, FAIL, NOT_GRADED } kind;
  std::string rule, evidence;
};

class Judge {
 public:
  // `marksLineErrors`: the port reports line errors, so they can be graded.
  Judge(bool marksLineErrors, int64_t runUs) : marks_(marksLineErrors), runUs_(runUs) {}

  void sighting(const Sighting &s);
  // The run's own doings: "withhold", "release" (`halfMessage`: the device
  // had begun a message and not finished it), "port-closed", "port-open".
  void event(const std::string &name, int64_t us, bool halfMessage);

  int keystrokes() const { return keystrokes_; }
  std::vector<Grade> grades() const;

 private:
  Grade byRules(const char *name, std::vector<Rule> rules, int evidence, const std::string &passed,
                const std::string &notGraded) const;
  Grade withheldFc() const;
  Grade reopen() const;
  Grade queryFlood() const;

  bool marks_;
  int64_t runUs_;
  std::vector<Sighting> warnings_;
  std::map<int, int> commands_;  // how many messages of each command
  int messages_ = 0, threeByte_ = 0, keystrokes_ = 0;
  enum { BEFORE, HOLDING, AFTER } hold_ = BEFORE;
  int64_t heldAtUs_ = 0, releasedAtUs_ = 0, firstKeyInHoldUs_ = -1, nextKeyAfterUs_ = -1;
  int keysInHold_ = 0, othersInHold_ = 0;
  bool halfMessage_ = false;
  enum { OPEN, CLOSED, REOPENED } port_ = OPEN;
  int64_t reopenedAtUs_ = 0;
  int messagesAfter_ = 0, warningsAfter_ = 0;
  // Queries, and the program's answers, a second at a time; when the line
  // would be free to carry the next answer, and when it first fell a tick behind.
  std::map<int64_t, int> queriesIn_, answersIn_;
  int queries_ = 0, answers_ = 0;
  double answerLineFreeUs_ = 0;
  int64_t floodAtUs_ = -1;
};

std::string gradeLine(const Grade &g);  // "PASS  forms: ..."

}  // namespace device
