// The record (--record FILE): one JSON object a line, one for each thing the
// transcript shows, so that a capture can be read by other tools and graded
// again later (`talliver-device grade FILE`). Every object has the same
// fields:
//   us        microseconds since the run began (a message: its first byte)
//   event     what happened: "message", a "warning" of its own, a port
//             event, "start" (the first line) or "end" (the last)
//   dir       "device" (device to program), "program" (program to device)
//             or "" (neither)
//   bytes     the raw bytes in hex, "84 1E 41"
//   byte_us   the time of each byte
//   meaning   the decoded message, or the event in words
//   warnings  the broken rules, "rule: evidence", of a message
// The first line also names the mode ("tap" or "conform"), the ports, and a
// conformance run's planned length in seconds; it and a device port's
// opening say whether the port marks line errors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

struct RecordEntry {
  long long us = 0;
  std::string event;
  std::string dir;
  std::vector<uint8_t> bytes;
  std::vector<long long> byteUs;
  std::string meaning;
  std::vector<std::string> warnings;
  // The first line's: "tap" or "conform", the ports, the planned length of
  // a conformance run; and (also a device port opening's) line error marking.
  std::string mode, port, link;
  long long seconds = 0;
  bool marksLineErrors = false;
};

std::string recordLine(const RecordEntry &entry);

// False with the reason when the line is no record line.
bool parseRecordLine(const std::string &line, RecordEntry *entry, std::string *why);

}  // namespace device
