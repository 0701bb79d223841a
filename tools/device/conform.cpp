// The conformance run: plays the program's side against a real device for a
// stated time while a person presses the device's keys, then grades what the
// device did against the link's rules. Along the way it withholds one FC for
// a while, and closes and reopens the port once, to see how the device
// copes with both (see conform_plan.h).
#include <poll.h>
#include <termios.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <vector>

#include "conform_plan.h"
#include "conform_view.h"
#include "modes.h"
#include "outlet.h"
#include "serial_port.h"
#include "session.h"
#include "signals.h"

namespace device {

namespace {
const int IDENTITY_DATA1 = 2, IDENTITY_DATA2 = 34;
const double PROMPT_AFTER_MS = 3000;  // without a keystroke, ask for some

// The program's side: answers at each tick as the program does, every
// waiting message but at most one keystroke.
class ProgramSide {
 public:
  ProgramSide(Outlet &toDevice, ConformView &view, RunClock &clock)
      : toDevice_(toDevice), view_(view), clock_(clock) {}

  std::deque<Message> waiting;

  void send(const std::vector<uint8_t> &bytes) {
    double ms = clock_.ms();
    toDevice_.push(bytes, ms);
    toDevice_.flush(ms);
    view_.programBytes(bytes, ms);
  }
  // Handles what waits; true when a keystroke was taken (its FC is due).
  bool tick(bool keystrokesAllowed) {
    while (!waiting.empty()) {
      Message m = waiting.front();
      bool keystroke = m.command == KEY_STROKE || m.command == SYS_KEY_STROKE;
      if (keystroke && !keystrokesAllowed) return false;
      waiting.pop_front();
      if (keystroke) return true;
      if (m.command == MODIFIER_FLAGS) flags_ = m.data2;
      if (m.command == QUERY_MODIFIERS) send(encode(MODIFIER_FLAGS, true, 0, flags_));
      if (m.command == IDENTIFY) send(encode(IDENTITY, true, IDENTITY_DATA1, IDENTITY_DATA2));
    }
    return false;
  }

 private:
  Outlet &toDevice_;
  ConformView &view_;
  RunClock &clock_;
  uint8_t flags_ = 0;
};

class Run {
 public:
  Run(const ConformOptions &options, SerialPort &port, ConformView &view, ConformPlan &plan)
      : runMs_((double)options.seconds * 1000),
        port_(port),
        view_(view),
        plan_(plan),
        toDevice_(HOLD_BYTES, false),
        program_(toDevice_, view, clock_) {
    toDevice_.setFd(port.fd());
  }
  // Plays the program's side to the end; false when the device went away.
  bool run();
  double ms() const { return clock_.ms(); }

 private:
  bool readDevice(double ms);
  bool closeAndReopen(double ms);
  void promptForKeys(double ms);
  void tick(double ms);

  double runMs_;
  SerialPort &port_;
  ConformView &view_;
  ConformPlan &plan_;
  RunClock clock_;
  Outlet toDevice_;
  ProgramSide program_;
  double nextTickMs_ = TICK_MS;
  double promptAtMs_ = PROMPT_AFTER_MS;
  int keystrokesAtPrompt_ = 0;
};

bool Run::readDevice(double ms) {
  std::vector<LineByte> bytes;
  bool present = port_.readAvailable(&bytes);
  for (const Message &m : view_.deviceBytes(lineData(bytes), ms)) program_.waiting.push_back(m);
  for (const LineByte &b : bytes)
    if (b.kind != LineByte::DATA) view_.lineError(b.kind, b.byte, ms);
  return present;
}

// False when the port does not open again.
bool Run::closeAndReopen(double ms) {
  if (plan_.closeDue(ms)) {
    port_.close();
    toDevice_.setFd(-1);
    toDevice_.discard();
    plan_.closed(ms);
    view_.portClosed(ms);
  }
  if (plan_.reopenDue(ms)) {
    std::string why;
    if (port_.open(&why) != SerialPort::OPEN) {
      view_.note(ms, "device-gone", "the port does not open again, and the run ends: " + why);
      return false;
    }
    // What arrived while it was closed is lost, as on a real port.
    tcflush(port_.fd(), TCIFLUSH);
    toDevice_.setFd(port_.fd());
    program_.waiting.clear();
    plan_.reopened();
    view_.portReopened(ms);
    promptAtMs_ = ms + PROMPT_AFTER_MS;
    keystrokesAtPrompt_ = view_.keystrokes();
  }
  return true;
}

void Run::promptForKeys(double ms) {
  if (promptAtMs_ < 0 || ms < promptAtMs_) return;
  if (view_.keystrokes() == keystrokesAtPrompt_)
    view_.note(ms, "prompt", "no keystroke yet: press keys on the device");
  promptAtMs_ = -1;
}

void Run::tick(double ms) {
  if (ms < nextTickMs_) return;
  nextTickMs_ += TICK_MS;
  if (!port_.isOpen() || !program_.tick(plan_.hold() != ConformPlan::HOLDING)) return;
  if (plan_.withhold(ms)) {
    view_.withheld(ms);
    return;
  }
  program_.send(encode(KEY_DONE, false));
}

bool Run::run() {
  for (double ms = clock_.ms(); !stopRequested && ms < runMs_; ms = clock_.ms()) {
    if (!closeAndReopen(ms)) return false;
    pollfd p = {port_.isOpen() ? port_.fd() : -1,
                (short)(POLLIN | (toDevice_.waitsForRoom() ? POLLOUT : 0)), 0};
    poll(&p, 1, 10);
    ms = clock_.ms();
    if (port_.isOpen() && (p.revents & (POLLIN | POLLHUP | POLLERR)) && !readDevice(ms)) {
      view_.note(ms, "device-gone", "the device has gone; the run ends");
      return false;
    }
    if (port_.isOpen()) toDevice_.flush(ms);
    view_.advance(ms);
    // The withheld FC goes only to an open port: the plan keeps the port
    // open while an FC is withheld.
    if (plan_.releaseDue(ms) && port_.isOpen()) {
      plan_.released();
      view_.released(ms);
      program_.send(encode(KEY_DONE, false));
    }
    promptForKeys(ms);
    tick(ms);
  }
  return true;
}
}  // namespace

int runConform(const ConformOptions &options) {
  SerialPort port(options.port);
  std::string why;
  if (port.open(&why) != SerialPort::OPEN)
    return std::fprintf(stderr, "talliver-device: --port %s\n", why.c_str()), EXIT_USAGE;
  Transcript out;  // the log and the record emptied only for a run that starts
  if (!out.open(options.log, options.record, &why))
    return std::fprintf(stderr, "talliver-device: %s\n", why.c_str()), EXIT_USAGE;
  stopOnSignals();

  ConformPlan plan((double)options.seconds * 1000);
  RecordEntry start;
  start.event = "start";
  start.mode = "conform";
  start.port = options.port;
  start.seconds = options.seconds;
  start.marksLineErrors = port.marksLineErrors();
  out.record(start);
  out.line("conform: " + options.port + (port.note().empty() ? "" : " (" + port.note() + ")") +
           "; press the device's keys now, for " + std::to_string(options.seconds) + " s");
  ConformView view(out, port.marksLineErrors(), plan.canWithhold());
  Run run(options, port, view, plan);
  run.run();
  return view.end(run.ms());
}

}  // namespace device
