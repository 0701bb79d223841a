#include "sink.h"
#include "clock.h"
#include "stop.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

namespace device {

namespace {
const size_t MOST_QUEUED = 256 << 10;  // what a sink may fall behind by before it is thinned or cut
const size_t LINE_ENDS = 64;           // how far back a cut may go to find room for its line
enum { OUT, LOG, RECORD };
}  // namespace

struct Sink {
  std::string name;  // "standard output", "--log FILE", "--record FILE"
  int fd = -1;
  bool whole = false, json = false;  // whole: cut rather than thinned; json: a record
  std::deque<std::string> lines;     // waiting, each with its line end
  size_t queued = 0, at = 0;         // at: how much of the first has been written
  long written = 0, dropped = 0, accepted = 0, cutAfter = 0;
  off_t offset = 0;
  std::deque<off_t> ends;  // where the last whole lines written end in the file
  bool refused = false, cut = false;
  std::string broken;  // why it takes no more lines

  void queue(const std::string &text) {
    lines.push_back(text + "\n");
    queued += text.size() + 1;
    accepted++;
  }

  void line(const std::string &text, bool keep) {
    if (fd < 0 || !broken.empty()) return;  // after a cut or a failure it takes nothing more
    if (queued > MOST_QUEUED) write();
    if (queued > MOST_QUEUED && whole) {
      broken = "it fell more than 256 KiB behind the run", cut = true, cutAfter = accepted;
      return queue(cutLine(broken));
    }
    if (queued > MOST_QUEUED && !keep) return (void)dropped++;
    if (dropped > 0)
      queue(format("(%ld lines were dropped here: they were not read in time)", dropped));
    dropped = 0;
    queue(text);
  }

  // A line a write: a pipe takes a line whole or not at all.
  void write() {
    pollfd room = {fd, POLLOUT, 0};  // standard output as the shell left it may block
    while (fd >= 0 && !lines.empty() && (fd != STDOUT_FILENO || poll(&room, 1, 0) > 0)) {
      const std::string &text = lines.front();
      ssize_t n = ::write(fd, text.data() + at, text.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return (void)(refused = true);
      if (n <= 0) return fail(n < 0 ? errno : EIO);
      refused = false;
      offset += n, at += (size_t)n;
      if (at < text.size()) continue;
      queued -= text.size(), at = 0, written++;
      lines.pop_front();
      ends.push_back(offset);
      if (ends.size() > LINE_ENDS) ends.pop_front();
    }
  }

  std::string cutLine(const std::string &why) const {
    std::string text = "the " + std::string(json ? "record" : "log") + " was cut here: " + why;
    return json ? recordLine({stampUs(), Event::Cut, "", {}, {}, text}) : "(" + text + ")";
  }

  // The sink failed (a full disk, a closed pipe): nothing more goes to it. A
  // file is cut back to its last whole line and says so there, giving up
  // whole lines where the cut line does not fit in what is left.
  void fail(int error) {
    struct stat st;
    broken = error == EPIPE ? "its reader closed it" : std::strerror(error);
    lines.clear(), queued = at = 0;
    if (!whole || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::string text = cutLine(broken) + "\n";
    for (; !ends.empty() || written == 0; ends.pop_back(), written--) {
      off_t end = ends.empty() ? 0 : ends.back();
      bool fits = ftruncate(fd, end) == 0 &&
                  pwrite(fd, text.data(), text.size(), end) == (ssize_t)text.size();
      if (fits) return (void)(cut = true, cutAfter = written);
      (void)!ftruncate(fd, end);
      if (ends.empty()) return;
    }
  }

  std::string trouble() const {
    if (broken.empty() && lines.empty()) return "";
    if (cut && lines.empty())
      return format("%s: cut after line %ld: %s; it ends with a line saying so", name.c_str(),
                    cutAfter, broken.c_str());
    return name + ": " +
           (broken.empty() ? "did not take its last lines in time"
                           : broken + format(" after line %ld", written)) +
           (whole ? "; nothing in it says so" : "");
  }
};

// Standard output for writes that never wait, opened afresh so that the
// shell's own descriptor is left as it is; a file never waits for a reader.
Transcript::Transcript(bool keepAll) : sinks_(3), keepAll_(keepAll) {
  struct stat st;
  int flags = fcntl(STDOUT_FILENO, F_GETFL);
  bool file = fstat(STDOUT_FILENO, &st) == 0 && S_ISREG(st.st_mode);
  int fd = file ? -1
                : ::open("/proc/self/fd/1",
                         O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (flags & O_APPEND));
  sinks_[OUT].name = "standard output";
  sinks_[OUT].fd = fd >= 0 ? fd : STDOUT_FILENO;
}

Transcript::Transcript(std::function<void(const std::string &, bool)> toLine,
                       std::function<void(const Entry &)> toRecord)
    : sinks_(3), keepAll_(true), toLine_(toLine), toRecord_(toRecord) {}

Transcript::~Transcript() {
  for (Sink &s : sinks_)
    if (s.fd > STDOUT_FILENO) close(s.fd);
}

bool Transcript::open(const std::string &log, const std::string &record, const std::string &port,
                      std::string *why) {
  struct stat portSt, st = {}, logSt = {};
  bool portThere = stat(port.c_str(), &portSt) == 0;
  for (int which : {LOG, RECORD}) {
    const std::string &path = which == LOG ? log : record;
    if (path.empty()) continue;
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) made_.push_back(path);
    if (fd < 0 && errno == EEXIST) fd = ::open(path.c_str(), flags);
    // A file or a FIFO is one run's and one sink's; a device (/dev/null) may be anyone's.
    bool exclusive =
        fd >= 0 && fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode));
    Sink &s = sinks_[which];
    s.name = (which == LOG ? "--log " : "--record ") + path;
    s.fd = fd, s.whole = true, s.json = which == RECORD;
    std::string problem = fd < 0 && errno == ENXIO ? "a FIFO that nobody reads"
                          : fd < 0                 ? std::strerror(errno)
                          : portThere && st.st_dev == portSt.st_dev && st.st_ino == portSt.st_ino
                              ? "the device's own port"
                          : exclusive && which == RECORD && sinks_[LOG].fd >= 0 &&
                                  st.st_dev == logSt.st_dev && st.st_ino == logSt.st_ino
                              ? "the same file as --log"
                          : exclusive && flock(fd, LOCK_EX | LOCK_NB) != 0
                              ? "another run is writing it"
                              : "";
    if (!problem.empty()) return *why = s.name + ": " + problem, abandon(), false;
    logSt = st;
  }
  return true;
}

void Transcript::abandon() {
  for (int which : {LOG, RECORD})
    if (sinks_[which].fd >= 0) close(sinks_[which].fd), sinks_[which].fd = -1;
  for (const std::string &path : made_) unlink(path.c_str());
}

void Transcript::start(const Entry &start, const std::string &firstLine) {
  for (int which : {LOG, RECORD})
    if (sinks_[which].fd >= 0) (void)!ftruncate(sinks_[which].fd, 0);
  record(start);
  line(firstLine, true);
}

void Transcript::line(const std::string &text, bool keep) {
  if (toLine_) return toLine_(text, keep);
  sinks_[OUT].line(text, keep || keepAll_);
  sinks_[LOG].line(text, true);
}

void Transcript::record(const Entry &entry) {
  if (toRecord_) return toRecord_(entry);
  sinks_[RECORD].line(recordLine(entry), true);
}

void Transcript::write() {
  for (Sink &s : sinks_) s.write();
}

void Transcript::pollFds(std::vector<pollfd> *fds) const {
  for (const Sink &s : sinks_)
    if (s.refused && !s.lines.empty()) fds->push_back({s.fd, POLLOUT, 0});
}

Outcome Transcript::finish(Outcome result, int64_t byUs) {
  // After a signal the run has said all it has to say; half a second more
  // for the sinks keeps the whole end within a second.
  const int64_t AFTER_SIGNAL_US = 500000;
  for (int64_t deadline = stopSignal ? std::min(byUs, clockUs() + AFTER_SIGNAL_US) : byUs;
       clockUs() < deadline;) {
    write();
    bool holding = false;
    for (const Sink &s : sinks_)
      holding = holding || (!s.lines.empty() && (s.broken.empty() || s.cut));
    if (!holding) break;
    if (stopSignal) deadline = std::min(deadline, clockUs() + AFTER_SIGNAL_US);
    std::vector<pollfd> fds;
    pollFds(&fds);
    poll(fds.data(), fds.size(), 50);
  }
  for (const Sink &s : sinks_) {
    if (s.trouble().empty()) continue;
    result.why += (result.why.empty() ? "" : "\n") + s.trouble();
    if (result.code != EXIT_USAGE) result.code = EXIT_FAILED;
  }
  return result;
}

}  // namespace device
