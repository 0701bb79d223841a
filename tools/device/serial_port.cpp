#include "serial_port.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace device {

SerialPort::Opened openFailure(int error) {
  switch (error) {
    case ENOENT:  // the adapter's device node appears when it is plugged in
    case ENODEV:
    case ENXIO:
    case EBUSY:  // another program has it for now
    case EIO: return SerialPort::ABSENT;
    default: return SerialPort::REFUSED;  // a folder, no permission, not a tty...
  }
}

SerialPort::Opened SerialPort::open(std::string *why) {
  close();
  // Non-blocking, so that neither opening nor reading waits on a modem line.
  fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    int error = errno;
    *why = path_ + ": " + std::strerror(error);
    return openFailure(error);
  }
  termios tio;
  if (tcgetattr(fd_, &tio) != 0) {
    *why = path_ + " is not a serial port: " + std::strerror(errno);
    close();
    return REFUSED;
  }
  cfmakeraw(&tio);  // 8 bits, no echo, no line editing, no stripping, no XON/XOFF
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | IGNBRK | BRKINT | ISTRIP);
  // Parity and framing errors and breaks come marked: FF 00 X, a data FF as FF FF.
  tio.c_iflag |= INPCK | PARMRK;
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
      return REFUSED;
    }
  }
  // The call succeeds when anything changed, so what took is read back.
  termios took;
  if (tcgetattr(fd_, &took) != 0 || !(took.c_cflag & PARENB))
    note_ = "the port took no parity setting (a pseudo-terminal has none)";
  marks_ = MarkedBytes();
  return OPEN;
}

void SerialPort::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool SerialPort::readAvailable(std::vector<LineByte> *bytes) {
  bytes->clear();
  uint8_t buffer[512];
  bool gotAny = false;
  for (;;) {
    ssize_t n = ::read(fd_, buffer, sizeof buffer);
    if (n > 0) {
      gotAny = true;
      for (ssize_t i = 0; i < n; i++) marks_.feed(buffer[i], bytes);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    // A raw port with nothing more reads 0 bytes; one that was said to be
    // readable and gave nothing at all has hung up. An error (EIO once a USB
    // adapter is unplugged): gone.
    return n == 0 && gotAny;
  }
}

}  // namespace device
