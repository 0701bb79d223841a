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

struct Grade {
  enum Kind { PASS, FAIL, NOT_GRADED } kind;
  std::string rule, evidence;
};
std::string gradeLine(const Grade &g);  // "PASS  forms: ..."

// What the grades are made of.
struct Judge {
  // `marksLineErrors`: the port reports line errors, so they can be graded.
  Judge(bool marksLineErrors, int64_t runUs) : marks(marksLineErrors), runUs(runUs) {}

  void sighting(const Sighting &s);
  // The run's own doings; `halfMessage`: the device had begun a message and
  // not finished it.
  void fcWithheld(int64_t us, bool halfMessage);
  void fcSent(int64_t us, bool halfMessage);
  void portClosed(int64_t us, bool halfMessage);
  void portOpened(int64_t us, bool halfMessage);
  std::vector<Grade> grades() const;

  // Of each rule: how often it was broken, and the first time (its place
  // among all warnings, its moment, its evidence). Only what the grades print is kept.
  struct Broken {
    long count = 0, order = 0;
    int64_t atUs = 0;
    std::string evidence;
  };
  // The most of something in one second, the seconds taken in order.
  struct PerSecond {
    int64_t second = -1;
    int now = 0, most = 0;
    void add(int64_t us);
  };

  bool marks;
  int64_t runUs;
  std::array<Broken, (int)Rule::COUNT> broken;
  long warnings = 0;
  std::map<int, int> commands;  // how many messages of each command
  int messages = 0, threeByte = 0, keystrokes = 0;
  enum { BEFORE, WITHHELD, SENT } fc = BEFORE;
  int64_t withheldAtUs = 0, sentAtUs = 0, firstKeyWithheldUs = -1, nextKeyAfterUs = -1;
  int keysWithheld = 0, othersWithheld = 0;
  bool halfMessage = false;
  enum { OPEN, CLOSED, REOPENED } port = OPEN;
  int64_t closedAtUs = 0, reopenedAtUs = 0;
  int messagesAfter = 0, warningsAfter = 0;
  // Queries, and the program's answers, a second at a time; when the line
  // would be free to carry the next answer, and when it first fell a tick behind.
  PerSecond queriesIn, answersIn;
  int queries = 0, answers = 0;
  double answerLineFreeUs = 0;
  int64_t floodAtUs = -1;
};

}  // namespace device
