#include "replay.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "stop.h"

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
    if (stopSignal) {  // a long record is not read to its end after Ctrl+C
      error = EINTR;
      break;
    }
    ssize_t n = read(fd, chunk, sizeof chunk);
    pollfd p = {fd, POLLIN, 0};
    if (n < 0 && (errno == EINTR || errno == EAGAIN) && !stopSignal && poll(&p, 1, 100) >= 0)
      continue;
    if (n <= 0) {
      error = n == 0 ? 0 : stopSignal ? EINTR : errno;
      break;
    }
    for (const char *at = chunk, *end = chunk + n; at < end && going && !error;) {
      const char *lineEnd = (const char *)std::memchr(at, '\n', (size_t)(end - at));
      line.append(at, lineEnd ? lineEnd : end);
      if (line.size() > LONGEST_LINE)
        error = EFBIG;
      else if (lineEnd)
        going = take(line, false), line.clear();
      at = lineEnd ? lineEnd + 1 : end;
    }
  }
  if (fd >= 0) close(fd);
  if (error == EFBIG) return *why = file + ": a line longer than any record line", false;
  if (error) return *why = file + ": cannot read it: " + std::strerror(error), false;
  if (going && !line.empty()) take(line, true);
  return true;
}

bool ends(const Entry &e) { return e.event == Event::End || e.event == Event::Cut; }

// Why an entry cannot follow the entries before it, or "". `afterEnd`: the
// line before it ended the record; `lastUs`: the latest time of each side's
// bytes, and of the events.
std::string misplaced(const Entry &e, bool afterEnd, int64_t lastUs[3]) {
  Replay replay = kindOf(e.event).replay;
  bool hasSide = e.dir == "device" || e.dir == "program", bytes = replay == Replay::Bytes;
  if (e.event == Event::Start) return "a second start: two records joined?";
  if (afterEnd) return "a line after the record's end";
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
}  // namespace

Outcome readRecord(const std::string &file, RecordRead *read,
                   const std::function<void(const Entry &)> &take) {
  int64_t lastUs[3] = {0, 0, 0};
  std::string why, refused;
  Entry e;
  bool ended = false;
  size_t number = 0;
  *read = RecordRead();
  bool readAll = readLines(file, &why, [&](const std::string &line, bool last) {
    bool first = read->start.event != Event::Start;
    number++;
    if (line.empty()) return true;
    if (!parseRecordLine(line, &e, &why) && last && !first)
      return read->cutInLine = true,
             read->note = format("the record was cut in the middle of line %zu", number), false;
    if (why.empty() && first &&
        (e.event != Event::Start || (e.mode != "tap" && e.mode != "conform" && e.mode != "script")))
      return refused = file +
                       ": not a record: its first line is no tap's, conformance run's or "
                       "script's start",
             false;
    if (why.empty() && !first) why = misplaced(e, ended, lastUs);
    if (!why.empty()) return refused = format("%s line %zu: ", file.c_str(), number) + why, false;
    if (e.event == Event::Cut) read->note = format("line %zu: %s", number, e.meaning.c_str());
    if (first) read->start = e;
    if (e.event != Event::Warning)
      read->lastUs = std::max({read->lastUs, e.us, lastUs[0], lastUs[1]});
    if (take) take(e);
    ended = ends(e);
    return true;
  });
  if (!readAll || !refused.empty()) return usage(readAll ? refused : why);
  if (read->start.event != Event::Start) return usage(file + ": not a record: it is empty");
  if (!ended && read->note.empty())
    read->note = "the record has no end line: the run was cut short";
  return Outcome();
}

void Replayer::take(const Entry &e) {
  // The end (and a cut) is an input too: the run's last moment, up to which time passes.
  if (e.event == Event::Start || e.event == Event::Warning) return;
  if (kindOf(e.event).replay == Replay::Bytes) {
    Side side = e.dir == "device" ? Side::Device : Side::Program;
    for (size_t i = 0; i < e.bytes.size(); i++) hold({e.byteUs[i], side, e.bytes[i], nullptr});
  } else {
    hold({e.us, Side::Device, -1, std::make_shared<const Entry>(e)});
  }
  for (; held_.size() > HOLD; held_.pop_front()) feed(held_.front());
}

// Nearly always the latest yet; else after those of its time and before later ones.
void Replayer::hold(Input in) {
  auto later = held_.end();
  while (later != held_.begin() && (later - 1)->us > in.us) --later;
  held_.insert(later, std::move(in));
}

int64_t Replayer::finish() {
  for (; !held_.empty(); held_.pop_front()) feed(held_.front());
  return lastUs_;
}

void Replayer::feed(const Input &in) {
  lastUs_ = in.us;
  if (in.byte >= 0) return (void)view_.bytes(in.side, {(uint8_t)in.byte}, in.us);
  const Entry &e = *in.event;
  Side side = e.dir == "device" ? Side::Device : Side::Program;
  switch (kindOf(e.event).replay) {
    case Replay::Lost:
      view_.lost(e.event == Event::Dropped ? Side::Device : side, e.bytes, in.us, e.meaning,
                 e.event == Event::Dropped);
      break;
    case Replay::LineError:
      view_.lineError(e.event == Event::Break, e.bytes.empty() ? 0 : e.bytes[0], in.us);
      break;
    case Replay::AsEvent: view_.event(in.us, e.event, e.meaning, e.marksLineErrors); break;
    case Replay::Bytes:
    case Replay::None: break;
  }
}

}  // namespace device
