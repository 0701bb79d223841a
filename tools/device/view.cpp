#include "view.h"

#include <numeric>

namespace device {

namespace {
// The bytes a "dropped" or "lost" entry carries at most, so that a record
// line stays short enough for a pipe to take it whole.
const size_t ENTRY_BYTES = 256;

std::string said(const Sighting &w) { return std::string(ruleName(w.rule)) + ": " + w.evidence; }
}  // namespace

void View::take(const Sightings &batch, std::vector<Message> *done) {
  Entry pending;  // a message, waiting for the warnings about it that follow it
  for (const Sighting &s : batch) {
    // A conformance run answers late on purpose (the withheld FC): not the device's doing.
    if (judge_ && s.isWarning && s.rule == Rule::NoFc) continue;
    if (judge_) judge_->sighting(s);
    if (s.isWarning) {
      out_.line(transcriptLine(s.atUs, "!!", "", "warning " + said(s)));
      if (pending.event == Event::COUNT) pending = {s.atUs, Event::Warning, "device"};
      pending.warnings.push_back(said(s));
      if (pending.event == Event::Warning) out_.record(pending), pending = Entry();
      continue;
    }
    if (pending.event != Event::COUNT) out_.record(pending);
    bool fromDevice = s.side == Side::Device;
    pending = {s.byteUs.front(), Event::Message, sideName(s.side),
               s.message.bytes,  s.byteUs,       describe(s.message, fromDevice)};
    out_.line(transcriptLine(s.byteUs.back(), fromDevice ? "->" : "<-", hex(s.message.bytes),
                             pending.meaning));
    if (done) done->push_back(s.message);
  }
  if (pending.event != Event::COUNT) out_.record(pending);
}

std::vector<Message> View::bytes(Side side, const Bytes &bytes, int64_t us) {
  std::vector<Message> done;
  relayed_[(int)side] += (long)bytes.size();
  for (uint8_t b : bytes) take(watch_.feed(side, b, us), &done);
  return done;
}

// A byte (already relayed) that the port marked as received with a line error.
void View::lineError(bool isBreak, uint8_t byte, int64_t us) {
  advance(us);
  Sighting error =
      isBreak
          ? watch_.warn(Rule::LineBreak, us, "a break: the line held low for longer than a byte")
          : watch_.warn(Rule::ParityError, us,
                        format("byte %02X arrived with a parity or framing error: is the "
                               "device at 9600 8O1?",
                               byte));
  if (judge_) judge_->sighting(error);
  out_.line(transcriptLine(us, "!!", "", "warning " + said(error)));
  out_.record(Entry(us, isBreak ? Event::Break : Event::ParityError, "device", {byte}, {},
                    error.evidence, {said(error)}));
}

void View::lost(Side from, const Bytes &bytes, int64_t us, const std::string &why, bool dropped) {
  if (bytes.empty()) return;
  advance(us);
  if (dropped && droppedSinceOpen_ == 0)
    out_.line(transcriptLine(us, "==", "",
                             "no program holds the port: bytes from the device are dropped, as a "
                             "closed port drops them"));
  (dropped ? dropped_ : lost_[(int)from]) += (long)bytes.size();
  if (dropped) droppedSinceOpen_ += (long)bytes.size();
  for (size_t at = 0; at < bytes.size(); at += ENTRY_BYTES)
    out_.record(
        Entry(us, dropped ? Event::Dropped : Event::Lost, sideName(from),
              Bytes(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + ENTRY_BYTES)),
              {}, why));
}

void View::restart() {
  for (Side side : {Side::Device, Side::Program}) {
    const Watch::Stream &open = watch_.sides[(int)side];
    if (!open.bytes.empty())
      out_.record({open.byteUs.front(), Event::Partial, sideName(side), open.bytes, open.byteUs,
                   "a message begun and never ended"});
  }
  take(watch_.restart());
}

void View::event(int64_t us, Event e, const std::string &given, bool marks) {
  advance(us);
  const EventKind &kind = kindOf(e);
  std::string text = kind.words ? kind.words : given;
  if (kind.restartsWatch) restart();
  if (e == Event::ProgramOpen && droppedSinceOpen_ > 0)
    text += format(" (%ld bytes from the device were dropped before)", droppedSinceOpen_);
  if (e == Event::ProgramOpen) droppedSinceOpen_ = 0;
  if (judge_ && kind.judge)
    (judge_->*kind.judge)(us, !watch_.sides[(int)Side::Device].bytes.empty());
  marks_ = marks_ || marks;
  out_.line(transcriptLine(us, "==", "", text));
  Entry entry = {us, e, "", {}, {}, text};
  entry.marksLineErrors = marks;
  out_.record(entry);
}

int View::end(int64_t us) {
  advance(us);
  restart();  // for what it records of messages never ended
  out_.record({us, Event::End});
  const char *p = mode_.c_str();
  auto say = [&](const std::string &line) { out_.line(line, true); };
  int warnings = std::accumulate(watch_.warnings.begin(), watch_.warnings.end(), 0);
  std::string counts = format("%s: warnings:", p);
  for (int r = 0; r < (int)Rule::COUNT; r++)
    counts += format(" %s %d", ruleName((Rule)r), watch_.warnings[r]);
  if (!judge_) {
    const Latencies &fc = watch_.fcLatency;
    int parity = watch_.warnings[(int)Rule::ParityError];
    int breaks = watch_.warnings[(int)Rule::LineBreak];
    say(format("%s: %.1f s, %d messages from the device, %d from the program", p, (double)us / 1e6,
               watch_.messages[0], watch_.messages[1]));
    say(counts);
    say(fc.count() == 0
            ? format("%s: FC latency: no keystrokes", p)
            : format("%s: FC latency over %ld keystrokes: p50 %s, p99 %s", p, fc.count(),
                     fc.percentile(0.50).c_str(), fc.percentile(0.99).c_str()));
    say(!marks_ ? format("%s: line errors: not checked: the port took no parity setting (a "
                         "pseudo-terminal has none)",
                         p)
        : parity + breaks == 0
            ? format("%s: line errors: none", p)
            : format("%s: line errors: %d parity or framing error%s, %d break%s: is the device "
                     "at 9600 8O1?",
                     p, parity, parity == 1 ? "" : "s", breaks, breaks == 1 ? "" : "s"));
  }
  say(
      format("%s: bytes from the device: %ld read, %ld delivered, %ld dropped while no program "
             "held the port, %ld the program did not take",
             p, relayed_[0] + dropped_, relayed_[0] - lost_[0], dropped_, lost_[0]));
  say(format("%s: bytes from the program: %ld read, %ld delivered, %ld the device did not take", p,
             relayed_[1], relayed_[1] - lost_[1], lost_[1]));
  if (!judge_) return warnings > 0 ? EXIT_FAILED : EXIT_PASSED;
  int kinds[3] = {0, 0, 0};
  for (const Grade &g : judge_->grades()) say(gradeLine(g)), kinds[g.kind]++;
  say(format("%d passed, %d failed, %d not graded", kinds[0], kinds[1], kinds[2]));
  return kinds[Grade::FAIL]         ? EXIT_FAILED
         : kinds[Grade::NOT_GRADED] ? EXIT_NOT_GRADED
                                    : EXIT_PASSED;
}

}  // namespace device
