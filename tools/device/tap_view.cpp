#include "tap_view.h"

#include "format.h"
#include "session.h"

namespace device {

void TapView::deviceBytes(const std::vector<uint8_t> &bytes, double ms) {
  for (uint8_t b : bytes) out_.sightings(watch_.feed(Side::Device, b, ms));
}

void TapView::programBytes(const std::vector<uint8_t> &bytes, double ms) {
  for (uint8_t b : bytes) out_.sightings(watch_.feed(Side::Program, b, ms));
}

void TapView::lineError(LineByte::Kind kind, uint8_t byte, double ms) {
  out_.lineError(watch_.lineError(kind, byte, ms), kind, byte);
}

void TapView::dropped(const std::vector<uint8_t> &bytes, double ms) {
  if (droppedSinceOpen_ == 0)
    out_.line(transcriptLine(ms, "==", "",
                             "no program holds the port: bytes from the device are dropped, "
                             "as a closed port drops them"));
  droppedBytes_ += (long)bytes.size();
  droppedSinceOpen_ += (long)bytes.size();
  RecordEntry e;
  e.us = microseconds(ms);
  e.event = "dropped";
  e.dir = sideName(Side::Device);
  e.bytes = bytes;
  e.meaning = "dropped: no program held the port";
  out_.record(e);
}

void TapView::lost(Side from, const std::vector<uint8_t> &bytes, double ms) {
  lostBytes_[(int)from] += (long)bytes.size();
  RecordEntry e;
  e.us = microseconds(ms);
  e.event = "lost";
  e.dir = sideName(from);
  e.bytes = bytes;
  e.meaning = from == Side::Device ? "lost: the program did not take them in time"
                                   : "lost: the device did not take them in time";
  out_.record(e);
}

void TapView::restart(double ms) {
  advance(ms);
  out_.unfinished(watch_);
  out_.sightings(watch_.restart());
}

void TapView::programOpened(double ms) {
  restart(ms);
  std::string what = "the program opened its port; the rules start over";
  if (droppedSinceOpen_ > 0)
    what += format(" (%ld bytes from the device were dropped before)", droppedSinceOpen_);
  droppedSinceOpen_ = 0;
  out_.event(ms, "program-open", what);
}

void TapView::programClosed(double ms) {
  restart(ms);
  out_.event(ms, "program-closed", "the program closed its port");
}

void TapView::deviceOpened(double ms, const std::string &what, bool marks) {
  marksLineErrors_ = marksLineErrors_ || marks;
  RecordEntry e;
  e.us = microseconds(ms);
  e.event = "device-open";
  e.meaning = what;
  e.marksLineErrors = marks;
  out_.event(e);
}

void TapView::note(double ms, const std::string &event, const std::string &what) {
  out_.event(ms, event, what);
}

void TapView::advance(double ms) { out_.sightings(watch_.advance(ms)); }

int TapView::warnings() const {
  int n = 0;
  for (int r = 0; r < RULE_COUNT; r++) n += watch_.warnings((Rule)r);
  return n;
}

void TapView::end(double ms) {
  advance(ms);
  out_.unfinished(watch_);
  out_.end(ms);

  out_.line(format("tap: %.1f s, %d messages from the device, %d from the program", ms / 1000,
                   watch_.messages(Side::Device), watch_.messages(Side::Program)));
  std::string counts = "tap: warnings:";
  for (int r = 0; r < RULE_COUNT; r++)
    counts += format(" %s %d", ruleName((Rule)r), watch_.warnings((Rule)r));
  out_.line(counts);
  const std::vector<double> &fc = watch_.fcLatencies();
  out_.line(format("tap: FC latency over %zu keystrokes: p50 %.1f ms, p99 %.1f ms", fc.size(),
                   percentile(fc, 0.50), percentile(fc, 0.99)));
  int parity = watch_.warnings(Rule::ParityError), breaks = watch_.warnings(Rule::LineBreak);
  if (!marksLineErrors_)
    out_.line(
        "tap: line errors: not checked: the port took no parity setting "
        "(a pseudo-terminal has none)");
  else if (parity + breaks == 0)
    out_.line("tap: line errors: none");
  else
    out_.line(
        format("tap: line errors: %d parity or framing error%s, %d break%s: is the device "
               "at 9600 8O1?",
               parity, parity == 1 ? "" : "s", breaks, breaks == 1 ? "" : "s"));
  out_.line(
      format("tap: bytes dropped: %ld from the device while no program held the port, %ld "
             "the program did not take, %ld the device did not take",
             droppedBytes_, lostBytes_[(int)Side::Device], lostBytes_[(int)Side::Program]));
}

}  // namespace device
