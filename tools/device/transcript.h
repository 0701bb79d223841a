// What a person watching the link sees, and what the record keeps: lines to
// standard output and, when asked, to a log file as well; one JSON object a
// thing seen to the record file. Every write goes through a sink of its own
// and never waits on its reader.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "line_sink.h"
#include "link_watch.h"
#include "marked_bytes.h"
#include "record.h"

namespace device {

class Transcript {
 public:
  // `waits`: standard output waits for a slow reader (see LineSink).
  explicit Transcript(bool waits = false);
  // Opens the log and the record, each unless its path is ""; false with
  // one line naming the file that cannot be written.
  bool open(const std::string &log, const std::string &record, std::string *why);

  // A line for the person only: headings, grades, the summary.
  void line(const std::string &text);
  // An entry for the record only.
  void record(const RecordEntry &entry);
  // Something that happened, "  1234.5 ==  what", kept in the record as
  // `event` (with the bytes concerned, if any).
  void event(double ms, const std::string &event, const std::string &what,
             const std::string &dir = "", const std::vector<uint8_t> &bytes = {});
  void event(const RecordEntry &entry);
  // What the watch saw: each message with the warnings that follow it.
  void sightings(const std::vector<Sighting> &batch);
  // A line error as the watch reported it (the batch from lineError): the
  // error is kept in the record as its own event, for grading again.
  void lineError(const std::vector<Sighting> &batch, LineByte::Kind kind, uint8_t byte);
  // The bytes of messages begun and never ended (record only): before the
  // watch restarts, and at the end.
  void unfinished(const LinkWatch &watch);
  // The record's last line.
  void end(double ms);

 private:
  std::unique_ptr<LineSink> stdout_, log_, record_;
};

long long microseconds(double ms);
const char *sideName(Side side);  // "device", "program"

}  // namespace device
