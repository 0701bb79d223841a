// A real serial port (any tty) as a device builder's adapter presents it:
// 9600 baud, 8 data bits, odd parity, 1 stop bit, and raw: every byte value
// passes unchanged (no bit 7 stripped, no XON/XOFF swallowed, no echo, no
// line editing), and closing it does not hang up, so a board that resets on
// DTR is not reset each time the port closes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

class SerialPort {
 public:
  explicit SerialPort(const std::string &path) : path_(path) {}
  ~SerialPort() { close(); }
  SerialPort(const SerialPort &) = delete;
  SerialPort &operator=(const SerialPort &) = delete;

  // Opens and sets up the port; false with the reason when it cannot.
  bool open(std::string *why);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const std::string &path() const { return path_; }
  // What the port could not do as asked (a pseudo-terminal has no parity).
  const std::string &note() const { return note_; }

  // What has arrived, without waiting; false when the device has gone.
  bool readAvailable(std::vector<uint8_t> *bytes);
  // Writes every byte, waiting while the port's buffer is full; false when
  // the device has gone.
  bool write(const std::vector<uint8_t> &bytes);

 private:
  std::string path_;
  std::string note_;
  int fd_ = -1;
};

}  // namespace device
