#include "line.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "clock.h"

namespace device {

namespace {
// What a turn reads of each side at most: a side that floods is taken a
// share at a time, and the other side, the outlets and a signal get their
// turn in between.
const size_t TURN_BYTES = 4096;
}  // namespace

size_t Pace::due(int64_t now, size_t waiting) {
  if (waiting == 0) return idle = true, 0;
  if (idle) startUs = std::max(startUs, (double)now), idle = false;
  return (double)now < startUs
             ? 0
             : std::min(waiting, (size_t)std::floor(((double)now - startUs) / LINE_BYTE_US));
}

bool Outlet::write(int64_t now) {
  while (fd >= 0 && !pending.empty()) {
    size_t due = paced ? pace.due(now, pending.size()) : pending.size();
    ssize_t n = due == 0 ? 0 : ::write(fd, pending.data(), due);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    if (n < 0 && refusedSinceUs < 0) refusedSinceUs = now;
    if (n <= 0) return true;
    pending.erase(pending.begin(), pending.begin() + n);
    if (paced) pace.took((size_t)n);
    wroteUs = now;
    refusedSinceUs = (size_t)n < due ? now : -1;
    if ((size_t)n < due) return true;
  }
  if (pending.empty()) pace.idle = true;  // an idle line saves up no time
  return true;
}

Bytes Outlet::giveUp() {
  Bytes bytes;
  bytes.swap(pending);
  pace.idle = true;
  return bytes;
}

bool Line::programTookAll() const {
  return toProgram_.pending.empty() && clockUs() - toProgram_.wroteUs > SETTLE_US &&
         program_->unread() == 0;
}

void Line::deviceOpened(SerialPort *device) {
  device_ = device;
  toDevice_.fd = device->fd;
}

void Line::closeDevice(const std::string &why) {
  if (device_) device_->close();
  view_->lost(Side::Program, toDevice_.giveUp(), stampUs(), why);
  toDevice_ = Outlet();
}

void Line::programPort(ProgramPort *program, bool watched) {
  program_ = program, watched_ = watched, programOpen_ = !watched;
  if (programOpen_) toProgram_.fd = program->master;
}

void Line::toDevice(const Bytes &bytes) {
  if (!device_ || device_->fd < 0)
    return view_->lost(Side::Program, bytes, stampUs(), "lost: the device has gone");
  toDevice_.pending.insert(toDevice_.pending.end(), bytes.begin(), bytes.end());
  if (!toDevice_.write(clockUs())) deviceGone();
}

void Line::toProgram(const Bytes &bytes) {
  toProgram_.pending.insert(toProgram_.pending.end(), bytes.begin(), bytes.end());
  toProgram_.write(clockUs());
}

void Line::followProgram() {
  bool inUse = program_->inUse();
  // A program that opened the port, wrote and closed it since the last look
  // (as `printf ... >LINK` does) had a session all the same, and its bytes
  // are that session's.
  if (!programOpen_ && (inUse || program_->written() > 0)) {
    programOpen_ = true, toProgram_.fd = program_->master;
    view_->event(stampUs(), Event::ProgramOpen);
  }
  if (inUse || !programOpen_) return;
  takeBack("lost: the program closed its port without reading them");
  programOpen_ = false;
  toProgram_ = Outlet();
  toProgram_.paced = paced_;
  view_->event(stampUs(), Event::ProgramClosed);
}

// What the program wrote last is read, and what it did not read goes with
// its port: a closed COM port keeps nothing for the next program.
void Line::takeBack(const std::string &why) {
  Bytes last = readProgram(true), left = program_->takeUnread(), waiting = toProgram_.giveUp();
  if (!last.empty()) fromProgram(last);
  left.insert(left.end(), waiting.begin(), waiting.end());
  view_->lost(Side::Device, left, stampUs(), why);
}

size_t Line::programWaiting() {
  int waiting = 0;
  return ioctl(program_->master, FIONREAD, &waiting) == 0 ? (size_t)waiting : 0;
}

size_t Line::appendProgram(size_t take, Bytes *bytes) {
  size_t at = bytes->size();
  bytes->resize(at + take);
  ssize_t n = take > 0 ? ::read(program_->master, bytes->data() + at, take) : 0;
  bytes->resize(at + (n > 0 ? (size_t)n : 0));
  return bytes->size() - at;
}

Bytes Line::readProgram(bool all) {
  Bytes bytes;
  if (!all) {
    size_t waiting = programWaiting();
    appendProgram(std::min(TURN_BYTES, paced_ ? drain_.due(clockUs(), waiting) : waiting), &bytes);
  }
  // FIONREAD counts only what the pty has passed on so far; the rest of what
  // the program wrote follows a moment later, so taking all of it reads
  // until the pty has stayed empty for a few milliseconds.
  for (int round = 0, quiet = 0; all && round < 256 && quiet < 3; round++) {
    bool took = appendProgram(programWaiting(), &bytes) > 0;
    quiet = took ? 0 : quiet + 1;
    if (!took) usleep(1000);
  }
  if (paced_) drain_.took(bytes.size());
  return bytes;
}

bool Line::deliver(Outlet &to) {
  bool toProgram = &to == &toProgram_;
  const char *side = toProgram ? "program" : "device";
  int64_t now = clockUs();
  if (!to.write(now)) return false;
  if ((to.refused() && now - to.refusedSinceUs > 2000000) || to.pending.size() > (1 << 20)) {
    if (!to.stalled)
      view_->event(stampUs(), Event::Stalled,
                   format("the %s is not taking bytes: it took nothing for 2 s, or fell 1 MiB "
                          "behind; what it does not take is dropped",
                          side));
    to.stalled = true;
    Bytes gone = to.giveUp();
    to.droppedInStall += (long)gone.size();
    view_->lost(toProgram ? Side::Device : Side::Program, gone, stampUs(),
                format("lost: the %s did not take them in time", side));
  } else if (to.stalled && to.refusedSinceUs < 0) {
    view_->event(
        stampUs(), Event::Taking,
        format("the %s takes bytes again; %ld were dropped meanwhile", side, to.droppedInStall));
    to.stalled = false;
    to.droppedInStall = 0;
  }
  return true;
}

void Line::turn(int64_t untilUs, int alsoFd) {
  int64_t now = clockUs();
  bool drainWaits = paced_ && !drain_.idle, atProgram = program_ && programOpen_;
  std::vector<pollfd> fds = {
      {atProgram ? program_->master : -1,
       (short)((drainWaits ? 0 : POLLIN) | (toProgram_.refused() ? POLLOUT : 0)), 0},
      {device_ ? device_->fd : -1, (short)(POLLIN | (toDevice_.refused() ? POLLOUT : 0)), 0},
      {alsoFd, POLLIN, 0}};
  out_.pollFds(&fds);
  int64_t pacedUs =
      toProgram_.paced && !toProgram_.pending.empty() ? toProgram_.pace.nextUs() : INT64_MAX;
  int64_t waitUs = std::max<int64_t>(
      0, std::min({untilUs, now + 20000, pacedUs, drainWaits ? drain_.nextUs() : INT64_MAX}) - now);
  timespec wait = {(time_t)(waitUs / 1000000), (long)(waitUs % 1000000) * 1000};
  ppoll(fds.data(), fds.size(), &wait, nullptr);

  if (watched_) followProgram();
  if (device_ && device_->fd >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
    Bytes data, bad;
    uint8_t buffer[512];
    ssize_t n, total = 0;
    while ((size_t)total < TURN_BYTES &&
           ((n = ::read(device_->fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
      for (ssize_t i = 0; i < n; i++) total++, device_->unmark(buffer[i], &data, &bad);
    // A raw port with nothing more reads 0 bytes; one said to be readable that
    // gave nothing at all has hung up. An error (EIO, unplugged): gone.
    bool gone = n < 0 ? errno != EAGAIN && errno != EINTR : total == 0;
    if (!data.empty()) fromDevice(data);
    for (uint8_t b : bad) view_->lineError(b == 0, b, stampUs());
    if (gone) deviceGone();
  }
  if (program_ && programOpen_) {
    Bytes bytes = readProgram(false);
    if (!bytes.empty()) fromProgram(bytes);
    // A pty keeps the parity a program set, and Wine then refuses the next
    // program's line settings as changing nothing: cleared, the port can be
    // closed and opened again. The firmware simulator's port clears them the
    // same way (tools/avr-sim/pty_port.c); the code is not shared, that
    // folder's licence being its own.
    termios tio;
    if (tcgetattr(program_->master, &tio) == 0 && (tio.c_cflag & (PARENB | PARODD)))
      tio.c_cflag &= ~(PARENB | PARODD), tcsetattr(program_->master, TCSANOW, &tio);
  }
  if (!view_) toProgram_.write(clockUs());
  if (view_ && programOpen_) deliver(toProgram_);
  if (view_ && device_ && device_->fd >= 0 && !deliver(toDevice_)) deviceGone();
  out_.write();
}

void Line::finish(int64_t untilUs) {
  if (watched_) followProgram();
  for (;; usleep(10000)) {
    if (programOpen_ && watched_)
      if (Bytes last = readProgram(true); !last.empty()) fromProgram(last);
    int64_t now = clockUs();
    int queued = 0;
    bool deviceDone =
        !device_ || device_->fd < 0 || !toDevice_.write(now) ||
        (toDevice_.pending.empty() && (ioctl(device_->fd, TIOCOUTQ, &queued) != 0 || queued == 0));
    bool programDone = !programOpen_ || (toProgram_.write(now) && programTookAll());
    out_.write();
    if ((deviceDone && programDone) || now >= untilUs) break;
  }
  if (programOpen_) takeBack("lost: the run ended before the program read them");
  view_->lost(Side::Program, toDevice_.giveUp(), stampUs(),
              "lost: the run ended before the device took them");
}

}  // namespace device
