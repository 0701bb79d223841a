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
#include "record.h"

namespace device {

class Transcript {
 public:
  Transcript();
  // False with one line naming the file when it cannot be written.
  bool openLog(const std::string &path, std::string *why);
  bool openRecord(const std::string &path, std::string *why);

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
  // The bytes of a message that never ended (record only).
  void partial(Side side, const OpenMessage &open);

 private:
  std::unique_ptr<LineSink> stdout_, log_, record_;
};

long long microseconds(double ms);
const char *sideName(Side side);  // "device", "program"

}  // namespace device
