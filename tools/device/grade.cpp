// Grading a record again (`talliver-device grade FILE`): the inputs the run
// recorded (each byte at its time, the port events, the line errors) go
// through the same view as in the live run, in the order the run took them,
// and it prints the same lines. The record's own warnings are not read: they
// are worked out again. A record that is not what a run writes is refused,
// naming its line; one cut short is graded up to its last whole line.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "modes.h"
#include "stop.h"
#include "view.h"

namespace device {

namespace {
const size_t LONGEST_LINE = 1 << 16;

// Hands the file's lines to `take` as they come, without waiting on what
// never ends (a FIFO nobody writes, a device), until `take` says stop;
// `last`: the line had no line end, and nothing came after it.
bool readLines(const std::string &file, std::string *why,
               const std::function<bool(const std::string &, bool last)> &take) {
  int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC), error = fd < 0 ? errno : 0;
  std::string line;
  bool going = true;
  for (char chunk[65536]; !error && going;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    pollfd p = {fd, POLLIN, 0};
    if (n < 0 && (errno == EINTR || errno == EAGAIN) && !stopSignal && poll(&p, 1, 100) >= 0)
      continue;
    if (n <= 0) {
      error = n == 0 ? 0 : stopSignal ? EINTR : errno;
      break;
    }
    for (ssize_t i = 0; i < n && going && !error; i++) {
      if (chunk[i] == '\n')
        going = take(line, false), line.clear();
      else if ((line += chunk[i]).size() > LONGEST_LINE)
        error = EFBIG;
    }
  }
  if (fd >= 0) close(fd);
  if (error == EFBIG) return *why = file + ": a line longer than any record line", false;
  if (error) return *why = file + ": cannot read it: " + std::strerror(error), false;
  if (going && !line.empty()) take(line, true);
  return true;
}

bool ends(const Entry &e) { return e.event == Event::End || e.event == Event::Cut; }

// Why an entry cannot follow the entries before it, or "". `lastUs`: the
// latest time of each side's bytes, and of the events.
std::string misplaced(const Entry &e, const Entry &before, int64_t lastUs[3]) {
  Replay replay = kindOf(e.event).replay;
  bool hasSide = e.dir == "device" || e.dir == "program", bytes = replay == Replay::Bytes;
  if (e.event == Event::Start) return "a second start: two records joined?";
  if (ends(before)) return "a line after the record's end";
  if (bytes && (!hasSide || e.bytes.empty() || e.byteUs.empty()))
    return "a message needs \"dir\", \"bytes\" and \"byte_us\"";
  if (replay == Replay::Lost && !hasSide) return "no \"dir\" for its bytes";
  if (e.event == Event::Warning) return "";
  // Each side's bytes, and the events, never go back in time.
  std::vector<int64_t> times = bytes ? e.byteUs : std::vector<int64_t>{e.us};
  int64_t &last = lastUs[bytes ? (e.dir == "device" ? 0 : 1) : 2];
  for (int64_t t : times) {
    if (t < last) return "its times run backwards";
    last = t;
  }
  return "";
}

// One input of the run. Each had its own time, and the bytes of one read
// share theirs, in the record's order.
struct Input {
  int64_t us;
  const Entry *entry;
  int byte;  // which of its bytes, or -1 for an event
};
}  // namespace

Outcome runGrade(const Options &o) {
  const std::string &file = o.file;
  std::vector<Entry> entries;
  int64_t lastUs[3] = {0, 0, 0};
  std::string why, refused, note;
  size_t number = 0;
  bool read = readLines(file, &why, [&](const std::string &line, bool last) {
    Entry e;
    bool first = entries.empty();
    number++;
    if (line.empty()) return true;
    if (!parseRecordLine(line, &e, &why) && last && !first)
      return note = format(
                 "grade: the record was cut in the middle of line %zu: graded up to "
                 "the line before it",
                 number),
             false;
    if (why.empty() && first &&
        (e.event != Event::Start || (e.mode != "tap" && e.mode != "conform")))
      return refused = file +
                       ": not a record: its first line is no tap's or conformance run's "
                       "start",
             false;
    if (why.empty() && !first) why = misplaced(e, entries.back(), lastUs);
    if (!why.empty()) return refused = format("%s line %zu: ", file.c_str(), number) + why, false;
    if (e.event == Event::Cut) note = format("grade: line %zu: %s", number, e.meaning.c_str());
    entries.push_back(e);
    return true;
  });
  if (!read || !refused.empty()) return usage(read ? refused : why);
  if (entries.empty()) return usage(file + ": not a record: it is empty");
  if (!ends(entries.back()) && note.empty())
    note = "grade: the record has no end line: the run was cut short";

  std::vector<Input> inputs;
  for (const Entry &e : entries) {
    bool bytes = kindOf(e.event).replay == Replay::Bytes;
    if (e.event == Event::Start || e.event == Event::Warning) continue;
    if (!bytes) inputs.push_back({e.us, &e, -1});
    for (size_t i = 0; bytes && i < e.bytes.size(); i++)
      inputs.push_back({e.byteUs[i], &e, (int)i});
  }
  std::stable_sort(inputs.begin(), inputs.end(),
                   [](const Input &a, const Input &b) { return a.us < b.us; });

  const Entry &start = entries.front();
  Transcript out(true);
  Judge judge(start.marksLineErrors, start.seconds * 1000000);
  View view(out, start.mode, start.marksLineErrors, start.mode == "conform" ? &judge : nullptr);
  out.line("grade: " + file + ": a " + start.mode + " record of " + start.port);
  int64_t endUs = 0;
  for (const Input &in : inputs) {
    const Entry &e = *in.entry;
    Side side = e.dir == "device" ? Side::Device : Side::Program;
    endUs = in.us;
    switch (kindOf(e.event).replay) {
      case Replay::Bytes: view.bytes(side, {e.bytes[(size_t)in.byte]}, in.us); break;
      case Replay::Lost:
        view.lost(e.event == Event::Dropped ? Side::Device : side, e.bytes, in.us, e.meaning,
                  e.event == Event::Dropped);
        break;
      case Replay::LineError:
        view.lineError(e.event == Event::Break, e.bytes.empty() ? 0 : e.bytes[0], in.us);
        break;
      case Replay::AsEvent: view.event(in.us, e.event, e.meaning, e.marksLineErrors); break;
      case Replay::None: break;
    }
    out.write();
  }
  int code = view.end(endUs);
  if (!note.empty()) out.line(note);
  return out.finish({code, ""});
}

}  // namespace device
