// What the conformance run makes of the line: the device's side watched
// against the link's rules, the run's own doings (the withheld FC, the
// closed port), and the grades at the end. The live run feeds it as bytes
// cross; `grade` feeds it the same inputs from a record, so the two print
// the same lines and grades.
#pragma once

#include <string>
#include <vector>

#include "conform_judge.h"
#include "link_watch.h"
#include "marked_bytes.h"
#include "transcript.h"

namespace device {

class ConformView {
 public:
  ConformView(Transcript &out, bool marksLineErrors, bool runCanWithhold)
      : out_(out), judge_(marksLineErrors, runCanWithhold) {}

  // The device's bytes; returns the messages they completed.
  std::vector<Message> deviceBytes(const std::vector<uint8_t> &bytes, double ms);
  void programBytes(const std::vector<uint8_t> &bytes, double ms);
  void lineError(LineByte::Kind kind, uint8_t byte, double ms);
  void withheld(double ms);
  void released(double ms);
  void portClosed(double ms);
  void portReopened(double ms);
  void note(double ms, const std::string &event, const std::string &what);
  void advance(double ms);
  // The grades; returns the exit code they give.
  int end(double ms);

  int keystrokes() const { return judge_.keystrokes(); }

 private:
  std::vector<Message> take(const std::vector<Sighting> &batch);

  Transcript &out_;
  LinkWatch watch_;
  ConformJudge judge_;
};

}  // namespace device
