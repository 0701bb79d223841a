// The two ports a run works: the program's COM port (a fresh pseudo-terminal
// with --link pointed at it) and the device's serial port (any tty).
#pragma once

#include <string>

#include "text.h"

namespace device {

// Bytes written to a pty reach its reader's queue within moments, not at once.
const int64_t SETTLE_US = 50000;

// The program's COM port: a pty made for the run, with `link` pointed at it.
struct ProgramPort {
  int master = -1, keeper = -1;
  std::string slave, link;
  ~ProgramPort();
  // Makes the pty and points `link` at it, where nothing is or over a link to
  // a pty that has gone (this tool's, from an earlier run); anything else is
  // refused. `raw`: the tap's port, raw from the start, which tells whether a
  // program has it open; else script mode's, which keeps what comes for the
  // program and leaves the line settings to it.
  bool make(const std::string &path, bool raw, std::string *why);
  bool inUse() const;   // a program has it open
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

}  // namespace device
