// The tap: a real device on one side, the program's COM port (a fresh pty)
// on the other. Every byte is relayed at once and unchanged; what crossed is
// printed a message at a time, with warnings where the device breaks the
// link's rules.
#include <poll.h>

#include <cstdio>
#include <vector>

#include "link_watch.h"
#include "modes.h"
#include "pty_line.h"
#include "serial_port.h"
#include "session.h"
#include "transcript.h"

namespace device {

namespace {
const int REOPEN_INTERVAL_MS = 500;
const int IDLE_WAKE_MS = 20;  // for the two-tick FC check while nothing moves

void printSummary(Transcript &out, const LinkWatch &watch, double ms) {
  char text[256];
  std::snprintf(text, sizeof text, "tap: %.1f s, %d messages from the device, %d from the program",
                ms / 1000, watch.messages(Side::Device), watch.messages(Side::Program));
  out.line(text);
  std::string warnings = "tap: warnings:";
  for (int r = 0; r < RULE_COUNT; r++)
    warnings +=
        std::string(" ") + ruleName((Rule)r) + " " + std::to_string(watch.warnings((Rule)r));
  out.line(warnings);
  const std::vector<double> &fc = watch.fcLatencies();
  std::snprintf(text, sizeof text, "tap: FC latency over %zu keystrokes: p50 %.1f ms, p99 %.1f ms",
                fc.size(), percentile(fc, 0.50), percentile(fc, 0.99));
  out.line(text);
}

void show(Transcript &out, const std::vector<Sighting> &sightings) {
  for (const Sighting &s : sightings) out.sighting(s);
}
}  // namespace

int runTap(const TapOptions &options) {
  Transcript out;
  if (!options.log.empty() && !out.openLog(options.log))
    return std::fprintf(stderr, "talliver-device: cannot write %s\n", options.log.c_str()), 2;
  SerialPort port(options.port);
  PtyLine program(options.link);
  LinkWatch watch;
  stopOnSignals();
  auto start = Clock::now();
  out.line("tap: " + options.port + " <-> " + options.link + " -> " + program.slaveName() +
           " (-> device to program, <- program to device)");

  std::string why;
  double lastAttempt = -REOPEN_INTERVAL_MS;
  bool waitingSaid = false;
  while (!stopRequested && (options.seconds == 0 || msSince(start) < options.seconds * 1000.0)) {
    if (!port.isOpen() && msSince(start) - lastAttempt >= REOPEN_INTERVAL_MS) {
      lastAttempt = msSince(start);
      if (port.open(&why)) {
        out.line(transcriptLine(
            msSince(start), "==", "",
            "device port open: " + port.path() + (port.note().empty() ? "" : "; " + port.note())));
        waitingSaid = false;
      } else if (!waitingSaid) {
        out.line(transcriptLine(msSince(start), "==", "", "waiting for the device: " + why));
        waitingSaid = true;
      }
    }

    pollfd fds[2] = {{program.fd(), POLLIN, 0}, {port.isOpen() ? port.fd() : -1, POLLIN, 0}};
    poll(fds, 2, IDLE_WAKE_MS);
    double now = msSince(start);

    if (port.isOpen() && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      std::vector<uint8_t> bytes;
      bool present = port.readAvailable(&bytes);
      if (!bytes.empty()) program.write(bytes);  // relayed before anything is printed
      for (uint8_t b : bytes) show(out, watch.feed(Side::Device, b, now));
      if (!present) {
        port.close();
        lastAttempt = now;
        out.line(transcriptLine(now, "==", "", "the device has gone; waiting for it"));
        waitingSaid = true;
      }
    }
    if (fds[0].revents & POLLIN) {
      std::vector<uint8_t> bytes = program.read(Clock::now());
      if (port.isOpen() && !bytes.empty() && !port.write(bytes)) {
        port.close();
        out.line(transcriptLine(now, "==", "", "the device has gone; waiting for it"));
        waitingSaid = true;
      }
      for (uint8_t b : bytes) show(out, watch.feed(Side::Program, b, now));
    }
    show(out, watch.advance(now));
    program.clearParity();
  }
  printSummary(out, watch, msSince(start));
  return 0;
}

}  // namespace device
