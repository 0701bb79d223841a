// The serial line between the device and the program, and the one loop
// every mode runs on: the two ports, the pace of a 9600 8O1 line, and an
// outlet for each side that writes its bytes without ever waiting for it.
#pragma once

#include <functional>

#include "ports.h"
#include "view.h"

namespace device {

// The pace of a 9600 8O1 line: a byte has crossed one byte-time after it
// began, a line with bytes waiting sends the next at once, and an idle line
// does not save up time.
struct Pace {
  double startUs = 0;  // when the next byte began, or may begin
  bool idle = true;
  size_t due(int64_t now, size_t waiting);  // how many of them have crossed by now
  void took(size_t count) { startUs += (double)count * LINE_BYTE_US; }
  int64_t nextUs() const { return idle ? INT64_MAX : (int64_t)(startUs + LINE_BYTE_US); }
};

// One side's bytes, written as far as it takes them (and, paced, as the line
// carries them); the rest wait.
struct Outlet {
  int fd = -1;
  bool paced = false, stalled = false;  // stalled: and that has been said
  Bytes pending;
  Pace pace;
  int64_t refusedSinceUs = -1;  // it has taken nothing since, though bytes waited
  int64_t wroteUs = 0;
  long droppedInStall = 0;
  bool write(int64_t now);  // false when the side has gone
  Bytes giveUp();
  bool refused() const { return refusedSinceUs >= 0 && !pending.empty(); }
};

class Line {
 public:
  // `view`: where the line reports what the sides do (none in script mode);
  // `paced`: the program's bytes cross at the line's pace both ways.
  Line(Transcript &out, View *view, bool paced) : out_(out), view_(view), paced_(paced) {
    toProgram_.paced = paced;
  }

  // Each side's bytes as they are read, and the device's port gone (a read
  // or a write said so).
  std::function<void(const Bytes &)> fromDevice, fromProgram;
  std::function<void()> deviceGone;

  void deviceOpened(SerialPort *device);
  // The device's port is closed; what waited for it is lost, for `why`.
  void closeDevice(const std::string &why);
  // The program's COM port. `watched` (the tap's): programs open and close
  // it, and the line follows, saying so; else it is open throughout.
  void programPort(ProgramPort *program, bool watched);
  bool programOpen() const { return programOpen_; }

  void toDevice(const Bytes &bytes);
  void toProgram(const Bytes &bytes);
  size_t pendingForProgram() const { return toProgram_.pending.size(); }
  bool programTookAll() const;  // nothing waits for it, here or unread in its port

  // Waits for either port, the outlets, the sinks and `alsoFd`, at most
  // until `untilUs`, then reads a share of what came and writes what is due.
  void turn(int64_t untilUs, int alsoFd = -1);
  // The run is over: the sides have until `untilUs` to take what waits for
  // them (and the program's last bytes are read); what is left is lost.
  void finish(int64_t untilUs);

 private:
  Bytes readProgram(bool all);  // `all`: at once, whatever the pace
  size_t programWaiting();      // bytes the program's pty has passed on
  // Reads up to `take` of the program's bytes onto `bytes`; how many came.
  size_t appendProgram(size_t take, Bytes *bytes);
  void followProgram();
  void takeBack(const std::string &why);
  // Writes what waits for a side. One that takes nothing for 2 s, or falls
  // 1 MiB behind, loses it, as a UART loses what nobody reads, and the view
  // hears of it. False when the side has gone.
  bool deliver(Outlet &to);

  Transcript &out_;
  View *view_;
  bool paced_, programOpen_ = false, watched_ = false;
  SerialPort *device_ = nullptr;
  ProgramPort *program_ = nullptr;
  Outlet toDevice_, toProgram_;
  Pace drain_;  // the program's bytes, read at the line's pace
};

}  // namespace device
