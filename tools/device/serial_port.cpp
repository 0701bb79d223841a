#include "serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "write_all.h"

namespace device {

bool SerialPort::open(std::string *why) {
  close();
  // Non-blocking, so that neither opening nor reading waits on a modem line.
  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    *why = path_ + ": " + std::strerror(errno);
    return false;
  }
  termios tio;
  if (tcgetattr(fd_, &tio) != 0) {
    *why = path_ + " is not a serial port: " + std::strerror(errno);
    close();
    return false;
  }
  cfmakeraw(&tio);  // 8 bits, no echo, no line editing, no stripping, no XON/XOFF
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP);
  tio.c_cflag &= ~(CSTOPB | CRTSCTS | HUPCL);  // 1 stop bit; no hang-up on close
  tio.c_cflag |= CLOCAL | CREAD | PARENB | PARODD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  note_.clear();
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
    // A pseudo-terminal drops the parity setting and then refuses the whole
    // call when nothing else changed.
    tio.c_cflag &= ~(PARENB | PARODD);
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
      *why = path_ + ": cannot set 9600 8O1 raw: " + std::strerror(errno);
      close();
      return false;
    }
    note_ = "the port took no parity setting (a pseudo-terminal has none)";
  }
  return true;
}

void SerialPort::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SerialPort::readAvailable(std::vector<uint8_t> *bytes) {
  bytes->clear();
  uint8_t buffer[512];
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      bytes->insert(bytes->end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    // End of file or an error (EIO once a USB adapter is unplugged): gone.
    return !bytes->empty();
  }
}

bool SerialPort::write(const std::vector<uint8_t> &bytes) {
  return writeAll(fd_, bytes.data(), bytes.size());
}

}  // namespace device
