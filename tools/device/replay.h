// A record read back: its lines checked against what a run writes as they
// are read (what is not a record is refused, naming the file and the line;
// one cut short is read up to its last whole line), and the inputs the run
// took (each byte at its time, the port events, the line errors) fed to a
// view in the order the run took them. `grade` and `plot` both read records
// so, and so make the same of them.
#pragma once

#include <deque>
#include <functional>
#include <memory>

#include "view.h"

namespace device {

// What reading a whole record found besides its entries.
struct RecordRead {
  Entry start;
  std::string note;        // where and why it was cut short, or ""
  bool cutInLine = false;  // its last line was written only in part, and is left out
  int64_t lastUs = 0;      // the latest time of its lines
};

// Hands each line of the record to `take` as an entry, in the file's order,
// the start first. Refused (a usage outcome, one line) when it is no record.
Outcome readRecord(const std::string &file, RecordRead *read,
                   const std::function<void(const Entry &)> &take = nullptr);

// Feeds a view a record's entries, given in the file's order, in the order of
// their inputs' times, as the run took them. A message is written when it
// ends, so its first bytes may come before lines above it: the latest inputs
// are held back, and sorted, so that a message's bytes take their places among
// up to HOLD inputs written before it. Memory does not grow with the record.
class Replayer {
 public:
  explicit Replayer(View &view) : view_(view) {}
  void take(const Entry &e);  // feeding the view the oldest inputs beyond HOLD
  int64_t finish();           // the rest; returns the time of the last input

 private:
  static const size_t HOLD = 1 << 15;  // inputs held back at most
  struct Input {
    int64_t us;
    Side side;
    int byte;                            // a byte of a message, or -1 for an event
    std::shared_ptr<const Entry> event;  // an event's entry
  };
  void hold(Input in);
  void feed(const Input &in);

  View &view_;
  std::deque<Input> held_;  // in the order of their times, and of the record for equal times
  int64_t lastUs_ = 0;
};

}  // namespace device
