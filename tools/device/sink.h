// Where a run's lines go: standard output, and the log and the record it was
// asked to keep. No write waits: each sink takes what it can now and holds
// the rest. Under a reader that falls behind, standard output drops
// transcript lines and says how many, but never a line marked to keep (the
// verdicts and the summary). A log or a record is never thinned: it is
// whole, or it ends with a line saying where and why it was cut.
#pragma once

#include <poll.h>
#include <sys/types.h>

#include <deque>

#include "record.h"

namespace device {

struct Sink {
  std::string name;  // "standard output", "--log FILE", "--record FILE"
  int fd = -1;
  bool whole = false, json = false;  // whole: cut rather than thinned; json: a record
  std::deque<std::string> lines;     // waiting, each with its line end
  size_t held = 0, at = 0;           // at: how much of the first has been written
  long written = 0, dropped = 0, accepted = 0, cutAfter = 0;
  off_t offset = 0;
  std::deque<off_t> ends;  // where the last whole lines written end in the file
  bool refused = false, cut = false;
  std::string broken;  // why it takes no more lines

  void line(const std::string &text, bool keep);
  void write();
  std::string trouble() const;

 private:
  void queue(const std::string &text);
  void cutHere(const std::string &why);
  void fail(int error);
  std::string cutLine(const std::string &why) const;
};

class Transcript {
 public:
  // `keepAll`: every line is kept, for a mode whose output is its result (grade).
  explicit Transcript(bool keepAll = false);
  ~Transcript();

  // Opens the log and the record (each unless its path is "") without
  // emptying them; false with why. A FIFO nobody reads, the device's own
  // port, one file for both, or one another run writes is refused.
  bool open(const std::string &log, const std::string &record, const std::string &port,
            std::string *why);
  void abandon();  // the run does not start: what it made is removed, the rest left as it was
  void start();    // the run starts: the log and the record are emptied

  void line(const std::string &text, bool keep = false);  // standard output and the log
  void record(const Entry &entry) { sinks_[RECORD].line(recordLine(entry), true); }

  void write();                                  // as much as each sink takes now
  void pollFds(std::vector<pollfd> *fds) const;  // the sinks waiting for room
  // Waits for the sinks to take what they hold: until they have (a signal
  // then allows half a second more), or half a second when a signal ended
  // the run.
  // Returns why any of them is not whole, a line each, or "".
  std::string finish();

 private:
  enum { OUT, LOG, RECORD };
  Sink sinks_[3];
  bool keepAll_;
  std::vector<std::string> made_;  // files this run created
};

}  // namespace device
