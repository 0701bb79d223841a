#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "write_all.h"

namespace device {

namespace {
void check(bool ok, const char *what) {
  if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}
}  // namespace

PtyLine::PtyLine(const std::string &link) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  check(master_ >= 0, "posix_openpt");
  check(grantpt(master_) == 0 && unlockpt(master_) == 0, "grantpt/unlockpt");
  slave_ = ptsname(master_);
  slaveKeeper_ = open(slave_.c_str(), O_RDWR | O_NOCTTY);
  check(slaveKeeper_ >= 0, "open slave");

  // A serial line neither echoes nor gathers lines; a pty's line discipline
  // does both until the program configures the port, so those two go. The
  // rest (XON/XOFF on, among them) stays as a fresh pty has it: passing every
  // byte is the program's job.
  termios tio;
  check(tcgetattr(slaveKeeper_, &tio) == 0, "tcgetattr");
  tio.c_lflag &= ~(ECHO | ECHONL | ICANON);
  check(tcsetattr(slaveKeeper_, TCSANOW, &tio) == 0, "tcsetattr");

  // Replace the link atomically, so the program never sees it missing.
  std::string temporary = link + ".new";
  unlink(temporary.c_str());
  check(symlink(slave_.c_str(), temporary.c_str()) == 0, "symlink");
  check(rename(temporary.c_str(), link.c_str()) == 0, "rename link");
}

PtyLine::~PtyLine() {
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
  if (master_ >= 0) close(master_);
}

void PtyLine::write(const std::vector<uint8_t> &bytes) {
  check(writeAll(master_, bytes.data(), bytes.size()), "write");
}

void PtyLine::clearParity() {
  termios tio;
  if (tcgetattr(slaveKeeper_, &tio) != 0 || !(tio.c_cflag & (PARENB | PARODD))) return;
  tio.c_cflag &= ~(PARENB | PARODD);
  tcsetattr(slaveKeeper_, TCSANOW, &tio);
}

size_t PtyLine::tryWrite(const std::vector<uint8_t> &bytes) {
  for (;;) {
    ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return 0;
    check(n >= 0, "write");
    return (size_t)n;
  }
}

std::vector<uint8_t> PtyLine::read(std::chrono::steady_clock::time_point deadline) {
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

}  // namespace device
