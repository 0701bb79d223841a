// When the conformance run tests the device's patience: one FC withheld for
// 2 s from the first keystroke a fifth of the way in, and the port closed
// for 1 s three fifths of the way in, as when the program restarts. The two
// never overlap: the close waits until the withheld FC has gone, and an FC
// is withheld only when the hold ends a second before the run does, so that
// the FC always goes to an open port and the device has time to go on.
#pragma once

namespace device {

const double WITHHOLD_MS = 2000;
const double CLOSED_MS = 1000;
const double WITHHOLD_AT = 0.2;     // of the run
const double CLOSE_AT = 0.6;        // of the run
const double AFTER_HOLD_MS = 1000;  // of the run left when the hold ends, at least

class ConformPlan {
 public:
  explicit ConformPlan(double runMs) : runMs_(runMs) {}

  enum Hold { BEFORE, HOLDING, DONE };
  enum Port { OPEN, CLOSED, REOPENED };
  Hold hold() const { return hold_; }

  // A keystroke is taken at `ms`: true when its FC is to be withheld (the
  // hold begins).
  bool withhold(double ms);
  bool releaseDue(double ms) const { return hold_ == HOLDING && ms - heldAtMs_ >= WITHHOLD_MS; }
  void released() { hold_ = DONE; }
  bool closeDue(double ms) const {
    return port_ == OPEN && hold_ != HOLDING && ms >= runMs_ * CLOSE_AT;
  }
  void closed(double ms) { port_ = CLOSED, closedAtMs_ = ms; }
  bool reopenDue(double ms) const { return port_ == CLOSED && ms - closedAtMs_ >= CLOSED_MS; }
  void reopened() { port_ = REOPENED; }
  // The run is long enough to withhold an FC at all.
  bool canWithhold() const { return runMs_ * WITHHOLD_AT + WITHHOLD_MS + AFTER_HOLD_MS <= runMs_; }

 private:
  double runMs_;
  Hold hold_ = BEFORE;
  Port port_ = OPEN;
  double heldAtMs_ = 0, closedAtMs_ = 0;
};

}  // namespace device
