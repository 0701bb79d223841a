// A real serial port (any tty) as a device builder's adapter presents it:
// 9600 baud, 8 data bits, odd parity, 1 stop bit, and raw: every byte value
// passes unchanged (no bit 7 stripped, no XON/XOFF swallowed, no echo, no
// line editing), and closing it does not hang up, so a board that resets on
// DTR is not reset each time the port closes. The driver marks bytes that
// arrive with a parity or framing error, and breaks; reading undoes the
// marking and reports them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "marked_bytes.h"

namespace device {

class SerialPort {
 public:
  explicit SerialPort(const std::string &path) : path_(path) {}
  ~SerialPort() { close(); }
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  enum Opened {
    OPEN,     // open and set up
    ABSENT,   // not there (yet): an adapter not plugged in
    REFUSED,  // there, and never a serial port: not a tty, a folder, no permission
  };
  // Opens and sets up the port; the reason in `why` when it cannot.
  Opened open(std::string *why);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string &path() const { return path_; }
  // What the port could not do as asked (a pseudo-terminal has no parity).
  const std::string &note() const { return note_; }
  // The port checks parity, so line errors are seen (never on a pty).
  bool marksLineErrors() const { return note_.empty(); }

  // What has arrived, without waiting, the marking undone; false when the
  // device has gone.
  bool readAvailable(std::vector<LineByte> *bytes);

 private:
  std::string path_;
  std::string note_;
  int fd_ = -1;
  MarkedBytes marks_;
};

// How an error from opening a port is taken: a port that may yet appear, or
// one that never will be a serial port.
SerialPort::Opened openFailure(int error);

}  // namespace device
