// The tap: the device's serial port on one side, the program's COM port (a
// fresh pty) on the other. Every byte is relayed at once and unchanged, and
// no write waits: a side that stops taking bytes has them kept for a while
// and then loses them, as a real line would, while the other direction
// keeps moving. What crossed is printed a message at a time, with warnings
// where the device breaks the rules.
#include "clock.h"
#include "line.h"
#include "modes.h"
#include "stop.h"

namespace device {

namespace {
const int64_t REOPEN_US = 500000;       // how often an absent device is looked for
const int64_t LAST_CHANCE_US = 300000;  // at the end, for the program to read what it was sent
const int64_t FINISH_US = 800000;       // how far past --seconds the sinks may take

struct Tap {
  const Options &o;
  SerialPort &device;
  View &view;
  Line line;
  bool waitingSaid = false;
  int64_t lastTryUs = -REOPEN_US;

  Tap(const Options &options, SerialPort &d, ProgramPort &program, View &v, Transcript &out)
      : o(options), device(d), view(v), line(out, &v, options.lineRate) {
    line.programPort(&program, true);
    line.fromDevice = [this](const Bytes &data) {
      if (!line.programOpen())
        return view.lost(Side::Device, data, stampUs(), "dropped: no program held the port", true);
      line.toProgram(data);
      view.bytes(Side::Device, data, stampUs());
    };
    line.fromProgram = [this](const Bytes &bytes) {
      view.bytes(Side::Program, bytes, stampUs());
      line.toDevice(bytes);
    };
    line.deviceGone = [this] {
      line.closeDevice("lost: the device has gone");
      lastTryUs = clockUs();
      view.event(stampUs(), Event::DeviceGone, "the device has gone; waiting for it");
      waitingSaid = true;
    };
  }

  void openDevice() {
    lastTryUs = clockUs();
    std::string why;
    if (device.fd >= 0 || device.open(&why) == SerialPort::OPEN) {
      line.deviceOpened(&device);
      view.event(
          stampUs(), Event::DeviceOpen,
          "device port open: " + device.path + (device.note.empty() ? "" : "; " + device.note),
          device.marksLineErrors());
      waitingSaid = false;
    } else if (!waitingSaid) {
      view.event(stampUs(), Event::DeviceWaiting, "waiting for the device: " + why);
      waitingSaid = true;
    }
  }

  void run() {
    int64_t endUs = o.seconds > 0 ? o.seconds * 1000000 : INT64_MAX;
    for (openDevice(); !stopSignal && clockUs() < endUs;) {
      if (device.fd < 0 && clockUs() - lastTryUs >= REOPEN_US) openDevice();
      line.turn(endUs);
      view.advance(stampUs());
    }
    line.finish(clockUs() + LAST_CHANCE_US);  // what is still on its way gets a last moment
    view.end(stampUs());
  }
};
}  // namespace

Outcome runTap(const Options &o) {
  // A port that can never be a serial port is an error now; one that is not
  // there yet (an adapter not plugged in) is waited for.
  SerialPort device(o.port);
  std::string why;
  if (device.open(&why) == SerialPort::REFUSED) return usage("--port " + why);
  Transcript out;
  if (!out.open(o.log, o.record, o.port, &why)) return usage(why);
  {
    ProgramPort program;
    if (!program.make(o.link, true, &why)) return out.abandon(), usage(why);
    Entry start = {0, Event::Start};
    start.mode = "tap", start.port = o.port, start.link = o.link;
    out.start(start, "tap: " + o.port + " <-> " + o.link + " -> " + program.slave +
                         " (-> device to program, <- program to device)" +
                         (o.lineRate ? "; paced as 9600 8O1" : ""));
    View view(out, "tap", false);
    Tap(o, device, program, view, out).run();
  }  // the link goes before the wait for the sinks
  device.close();
  return out.finish({}, o.seconds > 0 ? o.seconds * 1000000 + FINISH_US : INT64_MAX);
}

}  // namespace device
