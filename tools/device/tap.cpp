// The tap: the device's serial port on one side, the program's COM port (a
// fresh pty) on the other. Every byte is relayed at once and unchanged, and
// no write waits: a side that stops taking bytes has them held for a while
// and then loses them, as a real line would, while the other direction
// keeps moving. What crossed is printed a message at a time, with warnings
// where the device breaks the rules.
#include <unistd.h>

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
  ProgramPort &program;
  View &view;
  Line line;
  bool waitingSaid = false;
  int64_t lastTryUs = -REOPEN_US;

  Tap(const Options &options, SerialPort &d, ProgramPort &p, View &v, Transcript &out)
      : o(options), device(d), program(p), view(v), line(out, &v, &d, &p, options.lineRate) {
    line.held = false;
    line.fromDevice = [this](const Bytes &data) { fromDevice(data); };
    line.fromProgram = [this](const Bytes &bytes) { fromProgram(bytes); };
    line.deviceGone = [this] { deviceGone(); };
  }

  void programOpened() {
    line.held = true;
    line.toProgram.fd = program.master;
    view.event(stampUs(), Event::ProgramOpen);
  }

  // What the program has not read, and what still waits for it, goes with its port.
  void loseUnread(const std::string &why) {
    Bytes left = line.held ? program.takeUnread() : Bytes(), waiting = line.toProgram.giveUp();
    left.insert(left.end(), waiting.begin(), waiting.end());
    view.lost(Side::Device, left, stampUs(), why);
  }

  void checkProgram() {
    bool held = program.held();
    // A program that opened the port, wrote and closed it since the last
    // look (as `printf ... >LINK` does) had a session all the same, and its
    // bytes are that session's.
    if (!held && !line.held && program.written() > 0) programOpened();
    if (held == line.held) return;
    if (held) return programOpened();
    fromProgram(line.readProgram(true));  // what it wrote last
    // A closed COM port keeps nothing for the next program.
    loseUnread("lost: the program closed its port without reading them");
    line.held = false;
    line.toProgram = Outlet();
    line.toProgram.paced = line.paced;
    view.event(stampUs(), Event::ProgramClosed);
  }

  void fromDevice(const Bytes &data) {
    // What came as the program opened its port reaches it, as on a real port.
    if (!line.held && program.held()) programOpened();
    if (!line.held)
      return view.lost(Side::Device, data, stampUs(), "dropped: no program held the port", true);
    line.toProgram.add(data);
    line.toProgram.write(clockUs());
    view.bytes(Side::Device, data, stampUs());
  }

  void fromProgram(const Bytes &bytes) {
    if (bytes.empty()) return;
    view.bytes(Side::Program, bytes, stampUs());
    if (device.fd >= 0)
      line.toDevice.add(bytes);
    else
      view.lost(Side::Program, bytes, stampUs(), "lost: the device has gone");
  }

  void openDevice() {
    lastTryUs = clockUs();
    std::string why;
    if (device.fd >= 0 || device.open(&why) == SerialPort::OPEN) {
      line.toDevice.fd = device.fd;
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

  void deviceGone() {
    device.close();
    view.lost(Side::Program, line.toDevice.giveUp(), stampUs(), "lost: the device has gone");
    line.toDevice = Outlet();
    lastTryUs = clockUs();
    view.event(stampUs(), Event::DeviceGone, "the device has gone; waiting for it");
    waitingSaid = true;
  }

  void run() {
    int64_t endUs = o.seconds > 0 ? o.seconds * 1000000 : INT64_MAX;
    for (openDevice(); !stopSignal && clockUs() < endUs;) {
      if (device.fd < 0 && clockUs() - lastTryUs >= REOPEN_US) openDevice();
      line.turn(endUs);
      checkProgram();
      if (line.held) line.deliver(line.toProgram);
      if (device.fd >= 0 && !line.deliver(line.toDevice)) deviceGone();
      view.advance(stampUs());
    }
    // What is still on its way gets a last moment; what is left is counted.
    checkProgram();
    for (int64_t until = clockUs() + LAST_CHANCE_US; clockUs() < until; usleep(10000)) {
      if (line.held) fromProgram(line.readProgram(true));
      line.toProgram.write(clockUs());
      if (device.fd >= 0) line.toDevice.write(clockUs());
      bool programDone = !line.held || (line.toProgram.held.empty() && program.unread() == 0 &&
                                        clockUs() - line.toProgram.wroteUs > SETTLE_US);
      if (programDone && (line.toDevice.held.empty() || device.fd < 0)) break;
    }
    loseUnread("lost: the run ended before the program read them");
    view.lost(Side::Program, line.toDevice.giveUp(), stampUs(),
              "lost: the run ended before the device took them");
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
