#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "link_file.h"
#include "paced_pump.h"
#include "write_all.h"

namespace device {

namespace {
void check(bool ok, const char *what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}
}  // namespace

PtyLine::PtyLine(const std::string &link, Kind kind, bool paced) : link_(link) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  check(master_ >= 0, "posix_openpt");
  check(grantpt(master_) == 0 && unlockpt(master_) == 0, "grantpt/unlockpt");
  slave_ = ptsname(master_);

  // Terminal settings made through the master apply to the slave.
  termios tio;
  check(tcgetattr(master_, &tio) == 0, "tcgetattr");
  if (kind == PORT) {
    // A serial port passes every byte as it comes, set up or not.
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  } else {
    // A serial line neither echoes nor gathers lines; a pty's line discipline
    // does both until the program configures the port, so those two go. The
    // rest (XON/XOFF on, among them) stays as a fresh pty has it: passing
    // every byte is the program's job.
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON);
  }
  check(tcsetattr(master_, TCSANOW, &tio) == 0, "tcsetattr");

  slaveKeeper_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  check(slaveKeeper_ >= 0, "open slave");
  if (kind == PORT) {
    // Once opened and closed, the master reports a hang-up for as long as
    // nobody holds the slave: that is how the tap sees the program.
    close(slaveKeeper_);
    slaveKeeper_ = -1;
  }

  std::string why;
  if (!pointLinkAt(link, slave_, &why)) {
    if (slaveKeeper_ >= 0) close(slaveKeeper_);
    close(master_);
    throw std::runtime_error("--link " + why);
  }
  if (paced) pump_.reset(new PacedPump(master_));
}

PtyLine::~PtyLine() {
  pump_.reset();
  removeLinkTo(link_, slave_);
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
  if (master_ >= 0) close(master_);
}

bool PtyLine::programHolds() const {
  pollfd p = {master_, 0, 0};
  poll(&p, 1, 0);
  return !(p.revents & POLLHUP);
}

std::vector<uint8_t> PtyLine::takeUnread() {
  std::vector<uint8_t> bytes;
  int slave = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) return bytes;
  uint8_t buffer[4096];
  for (ssize_t n; (n = ::read(slave, buffer, sizeof buffer)) > 0;)
    bytes.insert(bytes.end(), buffer, buffer + n);
  tcflush(slave, TCIFLUSH);  // anything a line setting kept from the read
  close(slave);
  return bytes;
}

void PtyLine::write(const std::vector<uint8_t> &bytes) {
  if (pump_) return pump_->send(bytes);
  check(writeAll(master_, bytes.data(), bytes.size()), "write");
}

void PtyLine::clearParity() {
  termios tio;
  if (tcgetattr(master_, &tio) != 0 || !(tio.c_cflag & (PARENB | PARODD))) return;
  tio.c_cflag &= ~(PARENB | PARODD);
  tcsetattr(master_, TCSANOW, &tio);
}

size_t PtyLine::tryWrite(const std::vector<uint8_t> &bytes) {
  if (pump_) return pump_->trySend(bytes);
  for (;;) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    check(n >= 0, "write");
    return (size_t)n;
  }
}

std::vector<uint8_t> PtyLine::read(std::chrono::steady_clock::time_point deadline) {
  if (pump_) return pump_->receive(deadline);
  using namespace std::chrono;
  for (;;) {
    auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    pollfd p = {master_, POLLIN, 0};
    int ready = poll(&p, 1, left > 0 ? (int)left : 0);
    if (ready < 0 && errno == EINTR) continue;
    check(ready >= 0, "poll");
    if (ready == 0) return {};
    uint8_t buffer[256];
    ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    check(n >= 0, "read");
    return std::vector<uint8_t>(buffer, buffer + n);
  }
}

size_t PtyLine::mostWaiting() const { return pump_ ? pump_->mostWaiting() : 0; }

}  // namespace device
