// The conformance run: plays the program's side against a real device for a
// stated time while a person presses the device's keys, then grades what the
// device did. Along the way it withholds one FC for a while, and closes and
// reopens the port once, to see how the device copes with both. The plan
// is the run's own; its judge only grades what it saw.
#include <termios.h>

#include <deque>

#include "clock.h"
#include "line.h"
#include "modes.h"
#include "stop.h"

namespace device {

namespace {
const int64_t PROMPT_AFTER_US = 3000000;  // without a keystroke by then, ask for some
const size_t INPUT_QUEUE = 2048;          // what the program's port keeps for it, in bytes
const int64_t FINISH_US = 500000;         // for the device to take the last bytes

struct Conform {
  int64_t runUs;
  SerialPort &port;
  View &view;
  Line line;
  std::deque<Message> waiting;  // what the program's side has yet to handle
  size_t waitingBytes = 0;
  uint8_t flags = 0;
  int64_t nextTickUs = clockUs() + TICK_US, promptAtUs = clockUs() + PROMPT_AFTER_US;
  int keystrokes = 0, keysAtPrompt = 0;
  bool gone = false;
  // The plan: withholding an FC and closing the port, each not yet, now or
  // done, and their moments.
  enum { BEFORE, NOW, DONE } withholding = BEFORE, closing = BEFORE;
  int64_t withheldAtUs = 0, sentAtUs = 0, closedAtUs = 0;

  Conform(int64_t us, SerialPort &p, View &v, Transcript &out)
      : runUs(us), port(p), view(v), line(out, &v, false) {
    line.deviceOpened(&port);
    line.fromDevice = [this](const Bytes &data) {
      for (const Message &m : view.bytes(Side::Device, data, stampUs())) {
        keystrokes += isKeystroke(m.command);
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
    line.toDevice(bytes);
    view.bytes(Side::Program, bytes, stampUs());
  }

  // The close waits until a withheld FC has gone, and a second more, so that
  // the FC goes to an open port and the device can go on after it. False when
  // the port does not open again.
  bool closeAndReopen(int64_t now) {
    bool fcOver = withholding == BEFORE || (withholding == DONE && now - sentAtUs >= AFTER_HOLD_US);
    if (closing == BEFORE && fcOver && now >= (int64_t)((double)runUs * CLOSE_AT)) {
      line.closeDevice("lost: the port was closed");
      closing = NOW, closedAtUs = now;
      view.event(stampUs(), Event::PortClosed);
    }
    if (closing != NOW || now - closedAtUs < CLOSED_US) return true;
    std::string why;
    if (port.open(&why) != SerialPort::OPEN)
      return view.event(stampUs(), Event::DeviceGone,
                        "the port does not open again, and the run ends: " + why),
             false;
    tcflush(port.fd, TCIFLUSH);  // what arrived while it was closed is lost, as on a real port
    line.deviceOpened(&port);
    waiting.clear(), waitingBytes = 0;
    closing = DONE;
    view.event(stampUs(), Event::PortOpen);
    promptAtUs = now + PROMPT_AFTER_US, keysAtPrompt = keystrokes;
    return true;
  }

  // The program's tick: the waiting messages in order, up to the first
  // keystroke. While a keystroke's FC is withheld, nothing asked after it is
  // answered either: the program answers in the order asked. One FC is
  // withheld, from the first keystroke a fifth of the way in, when the hold
  // ends a second before the run does, so that the device has time to go on.
  void tick(int64_t now) {
    for (nextTickUs += TICK_US; port.fd >= 0 && !waiting.empty() && withholding != NOW;) {
      Message m = waiting.front();
      waiting.pop_front();
      waitingBytes -= m.bytes.size();
      if (isKeystroke(m.command)) {
        if (withholding != BEFORE || closing != BEFORE ||
            now < (int64_t)((double)runUs * WITHHOLD_AT) ||
            now + WITHHOLD_US + AFTER_HOLD_US > runUs)
          return send(encode(KEY_DONE, false));
        withholding = NOW, withheldAtUs = now;
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
      view.advance(stampUs());
      if (withholding == NOW && now - withheldAtUs >= WITHHOLD_US) {
        withholding = DONE, sentAtUs = now;
        view.event(stampUs(), Event::Release);
        send(encode(KEY_DONE, false));
      }
      if (now >= promptAtUs && keystrokes == keysAtPrompt)
        view.event(stampUs(), Event::Prompt, "no keystroke yet: press keys on the device");
      if (now >= promptAtUs) promptAtUs = INT64_MAX;
      if (now >= nextTickUs) tick(now);
    }
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
  Conform run(o.seconds * 1000000, port, view, out);
  run.run();
  // Everything the device was sent reaches it, or the run says what did not.
  run.line.finish(clockUs() + FINISH_US);
  long lost = view.lostBytes(Side::Program);
  int code = view.end(stampUs());
  port.close();
  // Within a second of the run's planned end, whatever the sinks do.
  return out.finish(
      lost == 0
          ? Outcome{code, ""}
          : failure(format("%ld bytes for the device were never sent: it did not take them", lost)),
      o.seconds * 1000000 + 800000);
}

}  // namespace device
