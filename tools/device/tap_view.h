// What the tap makes of the line: both byte streams watched against the
// link's rules, the port events, and the summary. The live tap feeds it as
// bytes cross; `grade` feeds it the same inputs from a record, so the two
// print the same lines.
#pragma once

#include <string>
#include <vector>

#include "link_watch.h"
#include "marked_bytes.h"
#include "transcript.h"

namespace device {

class TapView {
 public:
  TapView(Transcript &out, bool marksLineErrors) : out_(out), marksLineErrors_(marksLineErrors) {}

  // Bytes from the device that reached the program's port, and the
  // program's bytes to the device.
  void deviceBytes(const std::vector<uint8_t> &bytes, double ms);
  void programBytes(const std::vector<uint8_t> &bytes, double ms);
  void lineError(LineByte::Kind kind, uint8_t byte, double ms);
  // Bytes from the device while no program held the port: dropped, as a
  // closed port drops them.
  void dropped(const std::vector<uint8_t> &bytes, double ms);
  // Bytes a side did not take in time ("device": bytes from the device
  // that the program did not take).
  void lost(Side from, const std::vector<uint8_t> &bytes, double ms);
  // The program opened or closed its port: the rules start over.
  void programOpened(double ms);
  void programClosed(double ms);
  // The device's port opened; `marks`: it reports line errors.
  void deviceOpened(double ms, const std::string &what, bool marks);
  // A port event or other remark, shown as it is.
  void note(double ms, const std::string &event, const std::string &what);
  void advance(double ms);
  // The end of the run: the summary.
  void end(double ms);

  int warnings() const;

 private:
  void restart(double ms);

  Transcript &out_;
  bool marksLineErrors_;
  LinkWatch watch_;
  long droppedBytes_ = 0, droppedSinceOpen_ = 0;
  long lostBytes_[2] = {0, 0};
};

}  // namespace device
