// Where a run's lines go: standard output, and the log and the record it was
// asked to keep. No write waits: each sink takes what it can now and holds
// the rest. Under a reader that falls behind, standard output drops
// transcript lines and says how many, but never a line marked to keep (the
// verdicts and the summary). A log or a record is never thinned: it is
// whole, or it ends with a line saying where and why it was cut.
#pragma once

#include <poll.h>

#include <functional>

#include "outcome.h"
#include "record.h"

namespace device {

struct Sink;

class Transcript {
 public:
  // `keepAll`: every line is kept, for a mode whose output is its result (grade).
  explicit Transcript(bool keepAll = false);
  // Every line and entry handed to these instead, for a mode that makes
  // something else of them (plot draws them); nothing is written.
  Transcript(std::function<void(const std::string &, bool keep)> toLine,
             std::function<void(const Entry &)> toRecord);
  ~Transcript();

  // Opens the log and the record (each unless its path is "") without
  // emptying them; false with why. A FIFO nobody reads, the device's own
  // port, one file for both, or one another run writes is refused.
  bool open(const std::string &log, const std::string &record, const std::string &port,
            std::string *why);
  void abandon();  // the run does not start: what it made is removed, the rest left as it was
  // The run starts: the log and the record are emptied, the record begins
  // with `start`, and `firstLine` is printed.
  void start(const Entry &start, const std::string &firstLine);

  void line(const std::string &text, bool keep = false);  // standard output and the log
  void record(const Entry &entry);

  void write();                                  // as much as each sink takes now
  void pollFds(std::vector<pollfd> *fds) const;  // the sinks waiting for room
  // Waits for the sinks to take what they hold: until they have, or `byUs`
  // has come, or half a second after a signal. Returns the run's outcome with
  // why any sink is not whole, a line each, which fails the run.
  Outcome finish(Outcome result, int64_t byUs = INT64_MAX);

 private:
  std::vector<Sink> sinks_;  // standard output, the log, the record
  bool keepAll_;
  std::vector<std::string> made_;  // files this run created
  std::function<void(const std::string &, bool)> toLine_;
  std::function<void(const Entry &)> toRecord_;
};

}  // namespace device
