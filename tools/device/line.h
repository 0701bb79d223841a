// The serial line between the device and the program, and the one loop
// every mode runs on: the program's COM port (a fresh pseudo-terminal with
// --link pointed at it), the device's serial port, the pace of a 9600 8O1
// line, and outlets that write a side's bytes without ever waiting for it.
#pragma once

#include <functional>

#include "view.h"

namespace device {

// Bytes written to a pty reach its reader's queue within moments, not at once.
const int64_t SETTLE_US = 50000;

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
// carries them); the rest are held.
struct Outlet {
  int fd = -1;
  bool paced = false, stalled = false;  // stalled: and that has been said
  Bytes held;
  Pace pace;
  int64_t refusedSinceUs = -1;  // it has taken nothing since, though bytes waited
  int64_t wroteUs = 0;
  long droppedInStall = 0;
  bool write(int64_t now);  // false when the side has gone
  void add(const Bytes &bytes) { held.insert(held.end(), bytes.begin(), bytes.end()); }
  Bytes giveUp();
  bool refused() const { return refusedSinceUs >= 0 && !held.empty(); }
};

// The program's COM port: a pty made for the run, with `link` pointed at it.
struct ProgramPort {
  int master = -1, keeper = -1;
  std::string slave, link;
  ~ProgramPort();
  // Makes the pty and points `link` at it, where nothing is or over a link to
  // a pty that has gone (this tool's, from an earlier run); anything else is
  // refused. `raw`: the tap's port, raw from the start, which tells whether a
  // program holds it; else the simulator's, which keeps what comes for the
  // program and leaves the line settings to it.
  bool make(const std::string &path, bool raw, std::string *why);
  bool held() const;
  int written() const;  // what a program wrote that has not been read
  // What the program has not read of what it was sent: counted, or taken out
  // (a closed COM port keeps nothing for the next program).
  int unread() const;
  Bytes takeUnread();
};

// A real serial port (any tty), set to 9600 8O1 and raw, with no hang-up on
// close (a board that resets on DTR is not reset). The driver marks bytes
// received with a parity or framing error (FF 00 X), breaks (FF 00 00) and a
// data byte FF (FF FF); reading undoes the marking and says which were bad.
struct SerialPort {
  std::string path, note;   // note: what the port could not do as asked
  int fd = -1, marked = 0;  // marked: bytes of a mark seen so far
  explicit SerialPort(const std::string &name) : path(name) {}
  ~SerialPort() { close(); }
  enum Opened { OPEN, ABSENT, REFUSED };  // ABSENT: not there yet; REFUSED: never a serial port
  Opened open(std::string *why);
  void close();
  bool marksLineErrors() const { return note.empty(); }
  // A byte read: the data as the line carried it, and the bad ones among them
  // again in `bad` (00 for a break, as an unmarked port gives it).
  void unmark(uint8_t byte, Bytes *data, Bytes *bad);
};

// The loop: waits for either port, the outlets, the sinks and `alsoFd`, at
// most until `untilUs`, then reads what came and writes what is due. The
// program's bytes are read at the line's pace when `paced`.
struct Line {
  Line(Transcript &o, View *v, SerialPort *d, ProgramPort *p, bool pacedLine)
      : out(o), view(v), device(d), program(p), paced(pacedLine) {
    toProgram.paced = pacedLine;
  }
  Transcript &out;
  View *view;
  SerialPort *device;
  ProgramPort *program;
  bool held = true, paced;  // held: a program holds its port
  Outlet toDevice, toProgram;
  Pace drain;
  std::function<void(const Bytes &)> fromDevice, fromProgram;  // line errors go to the view
  std::function<void()> deviceGone;

  void turn(int64_t untilUs, int alsoFd = -1);
  Bytes readProgram(bool all);  // `all`: at once, whatever the pace
  // Writes what waits for a side. One that takes nothing for 2 s, or falls
  // 1 MiB behind, loses it, as a UART loses what nobody reads, and the view
  // hears of it. False when the side has gone.
  bool deliver(Outlet &to);
};

}  // namespace device
