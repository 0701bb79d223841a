// What a run makes of the line: both byte streams watched against the rules,
// the port events, the transcript's lines and the record's entries, and at
// the end the summary and, for a conformance run, the grades. The live run
// feeds it as bytes cross, each input at its own time; grade feeds it the
// same inputs from a record in the same order, so the two print the same.
#pragma once

#include "judge.h"
#include "sink.h"

namespace device {

class View {
 public:
  // `mode`: "tap", "conform" or "script"; a conformance run has a judge.
  View(Transcript &out, const std::string &mode, bool marksLineErrors, Judge *judge = nullptr)
      : out_(out), mode_(mode), marks_(marksLineErrors), judge_(judge) {}

  // Bytes a side sent that crossed to the other side's port; returns the
  // messages they completed.
  std::vector<Message> bytes(Side side, const Bytes &bytes, int64_t us);
  void lineError(bool isBreak, uint8_t byte, int64_t us);
  // Bytes that never reached the other side, and why; `dropped`: from the
  // device while no program held the port.
  void lost(Side from, const Bytes &bytes, int64_t us, const std::string &why,
            bool dropped = false);
  // An event of the run; the view words those it acts on itself.
  void event(int64_t us, Event event, const std::string &text = "", bool marks = false);
  void advance(int64_t us) { take(watch_.advance(us)); }
  // The summary and, judged, the grades; returns the exit code they give.
  int end(int64_t us);

  long lostBytes(Side from) const { return lost_[(int)from]; }

 private:
  void take(const Sightings &batch, std::vector<Message> *done = nullptr);
  void restart();

  Transcript &out_;
  std::string mode_;
  bool marks_;
  Judge *judge_;
  Watch watch_;
  long relayed_[2] = {0, 0}, lost_[2] = {0, 0};
  long dropped_ = 0, droppedSinceOpen_ = 0;
};

}  // namespace device
