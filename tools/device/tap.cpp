// The tap: a real device on one side, the program's COM port (a fresh pty)
// on the other. Every byte is relayed at once and unchanged, and no write
// ever waits: a side that stops taking bytes has them held for a while and
// then dropped, as a real line would lose them, while the other direction
// keeps moving. What crossed is printed a message at a time, with warnings
// where the device breaks the link's rules.
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "format.h"
#include "line_pace.h"
#include "modes.h"
#include "outlet.h"
#include "pty_line.h"
#include "serial_port.h"
#include "session.h"
#include "signals.h"
#include "tap_view.h"

namespace device {

namespace {
const int REOPEN_INTERVAL_MS = 500;
const double IDLE_WAKE_MS = 20;  // for the time-based rules while nothing moves

void reportOutlet(TapView &view, Outlet &outlet, const char *side, long &droppedBefore, double ms) {
  switch (outlet.change()) {
    case Outlet::STOPPED:
      droppedBefore = outlet.dropped();
      view.note(ms, "stalled",
                format("the %s is not taking bytes: %zu held so far; up to %zu are held, the rest "
                       "dropped",
                       side, outlet.held(), HOLD_BYTES));
      break;
    case Outlet::TAKING:
      view.note(ms, "taking",
                format("the %s takes bytes again; %ld were dropped meanwhile", side,
                       outlet.dropped() - droppedBefore));
      break;
    case Outlet::NONE: break;
  }
}

// The relay between the two ports.
class Relay {
 public:
  Relay(const TapOptions &options, SerialPort &port, PtyLine &program, TapView &view)
      : options_(options),
        port_(port),
        program_(program),
        view_(view),
        toProgram_(HOLD_BYTES, options.lineRate),
        toDevice_(HOLD_BYTES, false) {}

  void run();

 private:
  void openDevice(double ms);
  void deviceOpened(double ms);
  void deviceGone(double ms);
  void fromDevice(double ms);
  void fromProgram(double ms, bool all);
  void checkProgram(double ms);
  void toSide(Outlet &outlet, Side from, const std::vector<uint8_t> &bytes, double ms);
  double pollTimeoutMs(double ms) const;

  const TapOptions &options_;
  SerialPort &port_;
  PtyLine &program_;
  TapView &view_;
  Outlet toProgram_, toDevice_;
  LinePace drain_;  // --line-rate: the program's output taken at the line's pace
  RunClock clock_;
  bool programHeld_ = false;
  double lastAttempt_ = -REOPEN_INTERVAL_MS;
  bool waitingSaid_ = false;
  long droppedBefore_[2] = {0, 0};
};

void Relay::deviceOpened(double ms) {
  toDevice_.setFd(port_.fd());
  view_.deviceOpened(
      ms, "device port open: " + port_.path() + (port_.note().empty() ? "" : "; " + port_.note()),
      port_.marksLineErrors());
  waitingSaid_ = false;
}

void Relay::openDevice(double ms) {
  lastAttempt_ = ms;
  std::string why;
  if (port_.open(&why) == SerialPort::OPEN) {
    deviceOpened(ms);
  } else if (!waitingSaid_) {
    view_.note(ms, "device-waiting", "waiting for the device: " + why);
    waitingSaid_ = true;
  }
}

void Relay::deviceGone(double ms) {
  port_.close();
  toDevice_.setFd(-1);
  std::vector<uint8_t> unsent = toDevice_.discard();
  if (!unsent.empty()) view_.lost(Side::Program, unsent, ms);
  lastAttempt_ = ms;
  view_.note(ms, "device-gone", "the device has gone; waiting for it");
  waitingSaid_ = true;
}

void Relay::toSide(Outlet &outlet, Side from, const std::vector<uint8_t> &bytes, double ms) {
  size_t taken = outlet.push(bytes, ms);
  if (taken < bytes.size())
    view_.lost(from, std::vector<uint8_t>(bytes.begin() + (long)taken, bytes.end()), ms);
}

void Relay::fromDevice(double ms) {
  std::vector<LineByte> bytes;
  bool present = port_.readAvailable(&bytes);
  std::vector<uint8_t> data = lineData(bytes);
  if (programHeld_) {
    toSide(toProgram_, Side::Device, data, ms);
    toProgram_.flush(ms);  // relayed before anything is printed
    view_.deviceBytes(data, ms);
  } else if (!data.empty()) {
    view_.dropped(data, ms);
  }
  for (const LineByte &b : bytes)
    if (b.kind != LineByte::DATA) view_.lineError(b.kind, b.byte, ms);
  if (!present) deviceGone(ms);
}

void Relay::fromProgram(double ms, bool all) {
  int waiting = 0;
  if (ioctl(program_.fd(), FIONREAD, &waiting) != 0 || waiting <= 0) {
    drain_.taken(0, 0);
    return;
  }
  size_t take = (size_t)waiting;
  if (options_.lineRate && !all) {
    drain_.waiting(ms);
    take = drain_.crossed(ms, take);
  }
  std::vector<uint8_t> bytes(take);
  ssize_t n = take > 0 ? ::read(program_.fd(), bytes.data(), take) : 0;
  bytes.resize(n > 0 ? (size_t)n : 0);
  drain_.taken(bytes.size(), (size_t)waiting - bytes.size());
  if (bytes.empty()) return;
  if (port_.isOpen())
    toSide(toDevice_, Side::Program, bytes, ms);
  else
    view_.lost(Side::Program, bytes, ms);
  if (!toDevice_.flush(ms)) deviceGone(ms);
  view_.programBytes(bytes, ms);
}

void Relay::checkProgram(double ms) {
  bool holds = program_.programHolds();
  if (holds == programHeld_) return;
  programHeld_ = holds;
  if (holds) {
    toProgram_.setFd(program_.fd());
    view_.programOpened(ms);
    return;
  }
  fromProgram(ms, true);  // what it wrote last
  std::vector<uint8_t> unsent = program_.takeUnread(), held = toProgram_.discard();
  unsent.insert(unsent.end(), held.begin(), held.end());
  if (!unsent.empty()) view_.lost(Side::Device, unsent, ms);
  toProgram_.setFd(-1);
  view_.programClosed(ms);
}

double Relay::pollTimeoutMs(double ms) const {
  double until = ms + IDLE_WAKE_MS;
  if (toProgram_.nextMs() >= 0) until = std::min(until, toProgram_.nextMs());
  if (options_.lineRate && !drain_.idle()) until = std::min(until, drain_.nextMs());
  return std::max(0.0, until - ms);
}

void Relay::run() {
  double ms = clock_.ms();
  if (port_.isOpen()) deviceOpened(ms);
  while (!stopRequested && (options_.seconds == 0 || ms < options_.seconds * 1000.0)) {
    if (!port_.isOpen() && ms - lastAttempt_ >= REOPEN_INTERVAL_MS) openDevice(ms);

    bool drainWaits = options_.lineRate && !drain_.idle();
    short programEvents = (short)((programHeld_ && !drainWaits ? POLLIN : 0) |
                                  (programHeld_ && toProgram_.waitsForRoom() ? POLLOUT : 0));
    short deviceEvents = (short)(POLLIN | (toDevice_.waitsForRoom() ? POLLOUT : 0));
    pollfd fds[2] = {{programEvents ? program_.fd() : -1, programEvents, 0},
                     {port_.isOpen() ? port_.fd() : -1, deviceEvents, 0}};
    double waitMs = pollTimeoutMs(ms);
    timespec wait = {(time_t)(waitMs / 1000), (long)std::fmod(waitMs * 1e6, 1e9)};
    ppoll(fds, 2, &wait, nullptr);
    ms = clock_.ms();

    if (port_.isOpen() && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) fromDevice(ms);
    if (programHeld_) fromProgram(ms, false);
    if (programHeld_) toProgram_.flush(ms);
    if (port_.isOpen() && !toDevice_.flush(ms)) deviceGone(ms);
    reportOutlet(view_, toProgram_, "program", droppedBefore_[0], ms);
    reportOutlet(view_, toDevice_, "device", droppedBefore_[1], ms);
    checkProgram(ms);
    view_.advance(ms);
    program_.clearParity();
  }
  // What is still held never reached its side.
  std::vector<uint8_t> unsent = toProgram_.discard();
  if (!unsent.empty()) view_.lost(Side::Device, unsent, ms);
  unsent = toDevice_.discard();
  if (!unsent.empty()) view_.lost(Side::Program, unsent, ms);
  view_.end(ms);
}
}  // namespace

int runTap(const TapOptions &options) {
  // A port that can never be a serial port is an error now; one that is not
  // there yet (an adapter not plugged in) is waited for. The log and the
  // record are opened (and emptied) only for a run that can start.
  SerialPort port(options.port);
  std::string why;
  if (port.open(&why) == SerialPort::REFUSED)
    return std::fprintf(stderr, "talliver-device: --port %s\n", why.c_str()), EXIT_USAGE;
  stopOnSignals();
  PtyLine program(options.link, PtyLine::PORT);
  Transcript out;
  if (!out.open(options.log, options.record, &why))
    return std::fprintf(stderr, "talliver-device: %s\n", why.c_str()), EXIT_USAGE;

  RecordEntry start;
  start.event = "start";
  start.mode = "tap";
  start.port = options.port;
  start.link = options.link;
  out.record(start);
  out.line("tap: " + options.port + " <-> " + options.link + " -> " + program.slaveName() +
           " (-> device to program, <- program to device)" +
           (options.lineRate ? "; paced as 9600 8O1" : ""));
  TapView view(out, false);
  Relay(options, port, program, view).run();
  return EXIT_PASSED;
}

}  // namespace device
