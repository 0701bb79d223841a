// The conformance run: plays the program's side against a real device for a
// stated time while a person presses the device's keys, then grades what the
// device did. Along the way it withholds one FC for a while, and closes and
// reopens the port once, to see how the device copes with both.
#include <sys/ioctl.h>
#include <termios.h>

#include <deque>

#include "clock.h"
#include "line.h"
#include "modes.h"
#include "stop.h"

namespace device {

namespace {
const int64_t PROMPT_AFTER_US = 3000000;  // without a keystroke by then, ask for some
const size_t INPUT_QUEUE = 2048;          // what the program's port holds for it, in bytes

// It acts on the withheld FC and the closed port as its judge has seen them.
struct Conform {
  int64_t runUs;
  SerialPort &port;
  View &view;
  const Judge &judge;
  Line line;
  std::deque<Message> waiting;  // what the program's side has yet to handle
  size_t waitingBytes = 0;
  uint8_t flags = 0;
  int64_t nextTickUs = clockUs() + TICK_US, promptAtUs = clockUs() + PROMPT_AFTER_US;
  int keysAtPrompt = 0;
  bool gone = false;

  Conform(int64_t us, SerialPort &p, View &v, const Judge &j, Transcript &out)
      : runUs(us), port(p), view(v), judge(j), line(out, &v, &p, nullptr, false) {
    line.toDevice.fd = port.fd;
    line.fromDevice = [this](const Bytes &data) {
      for (const Message &m : view.bytes(Side::Device, data, stampUs())) {
        // As the program's port: what comes while its queue is full is lost.
        if (waitingBytes + m.bytes.size() > INPUT_QUEUE)
          view.lost(Side::Device, m.bytes, stampUs(), "lost: the program's input queue was full");
        else
          waitingBytes += m.bytes.size(), waiting.push_back(m);
      }
    };
    line.deviceGone = [this] { gone = true; };
  }

  void send(const Bytes &bytes) {
    line.toDevice.add(bytes);
    line.toDevice.write(clockUs());
    view.bytes(Side::Program, bytes, stampUs());
  }

  // The close waits until a withheld FC has gone, and a second more, so that
  // the FC goes to an open port and the device can go on after it. False when
  // the port does not open again.
  bool closeAndReopen(int64_t now) {
    bool holdOver = judge.hold == Judge::BEFORE ||
                    (judge.hold == Judge::AFTER && now - judge.releasedAtUs >= AFTER_HOLD_US);
    if (judge.port == Judge::OPEN && holdOver && now >= (int64_t)((double)runUs * CLOSE_AT)) {
      port.close();
      view.lost(Side::Program, line.toDevice.giveUp(), stampUs(), "lost: the port was closed");
      line.toDevice = Outlet();
      view.event(stampUs(), Event::PortClosed);
    }
    if (judge.port != Judge::CLOSED || now - judge.closedAtUs < CLOSED_US) return true;
    std::string why;
    if (port.open(&why) != SerialPort::OPEN)
      return view.event(stampUs(), Event::DeviceGone,
                        "the port does not open again, and the run ends: " + why),
             false;
    tcflush(port.fd, TCIFLUSH);  // what arrived while it was closed is lost, as on a real port
    line.toDevice.fd = port.fd;
    waiting.clear(), waitingBytes = 0;
    view.event(stampUs(), Event::PortOpen);
    promptAtUs = now + PROMPT_AFTER_US, keysAtPrompt = judge.keystrokes;
    return true;
  }

  // The program's tick: the waiting messages in order, up to the first
  // keystroke. While a keystroke's FC is withheld, nothing asked after it is
  // answered either: the program answers in the order asked.
  void tick(int64_t now) {
    for (nextTickUs += TICK_US; port.fd >= 0 && !waiting.empty() && judge.hold != Judge::HOLDING;) {
      Message m = waiting.front();
      waiting.pop_front();
      waitingBytes -= m.bytes.size();
      if (isKeystroke(m.command)) {
        if (judge.hold != Judge::BEFORE || judge.port != Judge::OPEN ||
            now < (int64_t)((double)runUs * WITHHOLD_AT) ||
            now + WITHHOLD_US + AFTER_HOLD_US > runUs)
          return send(encode(KEY_DONE, false));
        return view.event(stampUs(), Event::Withhold);
      }
      if (m.command == MODIFIER_FLAGS) flags = m.data2;
      if (m.command == QUERY_FLAGS) send(encode(MODIFIER_FLAGS, true, 0, flags));
      if (m.command == IDENTIFY) send(encode(IDENTITY, true, IDENTITY_DATA1, IDENTITY_DATA2));
    }
  }

  void run() {
    for (int64_t now = clockUs(); !stopSignal && now < runUs; now = clockUs()) {
      if (!closeAndReopen(now)) return;
      line.turn(std::min({runUs, nextTickUs, now + 10000}));
      if (gone)
        return view.event(stampUs(), Event::DeviceGone, "the device has gone; the run ends");
      now = clockUs();
      if (port.fd >= 0) line.deliver(line.toDevice);
      view.advance(stampUs());
      if (judge.hold == Judge::HOLDING && now - judge.heldAtUs >= WITHHOLD_US) {
        view.event(stampUs(), Event::Release);
        send(encode(KEY_DONE, false));
      }
      if (now >= promptAtUs && judge.keystrokes == keysAtPrompt)
        view.event(stampUs(), Event::Prompt, "no keystroke yet: press keys on the device");
      if (now >= promptAtUs) promptAtUs = INT64_MAX;
      if (now >= nextTickUs) tick(now);
    }
  }

  // Everything the device was sent reaches it, or the run says what did not.
  std::string finish() {
    for (int64_t until = clockUs() + 500000; port.fd >= 0 && clockUs() < until;
         line.turn(clockUs() + 10000)) {
      int queued = 0;
      if (line.toDevice.write(clockUs()) && line.toDevice.held.empty() &&
          (ioctl(port.fd, TIOCOUTQ, &queued) != 0 || queued == 0))
        break;
    }
    view.lost(Side::Program, line.toDevice.giveUp(), stampUs(),
              "lost: the run ended before the device took them");
    long lost = view.lostBytes(Side::Program);
    return lost == 0
               ? ""
               : format("%ld bytes for the device were never sent: it did not take them", lost);
  }
};
}  // namespace

Outcome runConform(const Options &o) {
  SerialPort port(o.port);
  std::string why;
  if (port.open(&why) != SerialPort::OPEN) return usage("--port " + why);
  Transcript out;
  if (!out.open(o.log, o.record, o.port, &why)) return usage(why);
  Entry start = {0, Event::Start};
  start.mode = "conform", start.port = o.port, start.seconds = o.seconds;
  start.marksLineErrors = port.marksLineErrors();
  out.start(start, "conform: " + o.port + (port.note.empty() ? "" : " (" + port.note + ")") +
                       "; press the device's keys now, for " + std::to_string(o.seconds) + " s");
  Judge judge(port.marksLineErrors(), o.seconds * 1000000);
  View view(out, "conform", port.marksLineErrors(), &judge);
  Conform run(o.seconds * 1000000, port, view, judge, out);
  run.run();
  why = run.finish();
  int code = view.end(stampUs());
  port.close();
  // Within a second of the run's planned end, whatever the sinks do.
  return out.finish({why.empty() ? code : EXIT_FAILED, why}, o.seconds * 1000000 + 800000);
}

}  // namespace device
