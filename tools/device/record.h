// The record (--record FILE): one JSON object a line, one for each thing the
// transcript shows and for every byte that crossed, so that a capture can be
// read by other tools and graded again later. Every object has the same
// fields: us (microseconds since the run began; a message's first byte),
// event, dir ("device", "program" or ""), bytes ("84 1E 41"), byte_us (each
// byte's time), meaning, warnings ("rule: evidence"). The first line, the
// run's start, also names the mode, the ports and the planned length; it and
// a device port's opening say whether the port marks line errors.
#pragma once

#include "events.h"
#include "text.h"

namespace device {

struct Entry {
  Entry(int64_t at = 0, Event what = Event::COUNT, const std::string &side = "",
        const Bytes &carried = {}, const std::vector<int64_t> &times = {},
        const std::string &said = "", const std::vector<std::string> &broken = {})
      : us(at),
        event(what),
        dir(side),
        bytes(carried),
        byteUs(times),
        meaning(said),
        warnings(broken) {}
  int64_t us;
  Event event;
  std::string dir;
  Bytes bytes;
  std::vector<int64_t> byteUs;
  std::string meaning;
  std::vector<std::string> warnings;
  // The start's: "tap", "conform" or "script", the ports (script mode's: its
  // --link alone), a conformance run's length.
  std::string mode, port, link;
  int64_t seconds = 0;
  bool marksLineErrors = false;  // the start's and a device-open's
};

std::string recordLine(const Entry &entry);
// False with why (and where in the line) when the line is no record line.
bool parseRecordLine(const std::string &line, Entry *entry, std::string *why);

}  // namespace device
