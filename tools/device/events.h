// Everything a run records, named once: its name in the record, its words
// in the transcript, what it does to the watch and to the conformance run's
// judge, how a record read back feeds it to a view, and how `plot` draws it.
#pragma once

#include <cstdint>
#include <string>

namespace device {

struct Judge;

enum class Event {
  Start,
  End,
  Cut,  // a record's first and last lines
  Message,
  Partial,
  Warning,
  ParityError,
  Break,  // what the watch saw
  Dropped,
  Lost,  // bytes that did not cross
  DeviceOpen,
  DeviceWaiting,
  DeviceGone,  // the device's port
  ProgramOpen,
  ProgramClosed,  // the program's port
  Stalled,
  Taking,  // a side that stops taking bytes, and takes them again
  Withhold,
  Release,
  PortClosed,
  PortOpen,
  Prompt,  // the conformance run's own doings
  COUNT    // none
};

// How a record read back (`grade`, `plot`) gives an entry to a view: not at
// all (warnings are worked out again), each byte at its time, as bytes lost,
// as a line error, or as an event.
enum class Replay { None, Bytes, Lost, LineError, AsEvent };

// A stretch of the run that one event begins and another ends, which `plot`
// draws as a band across its lanes.
enum class Stretch { None = -1, PortClosed, DeviceGone, Withheld, Stalled, COUNT };

struct EventKind {
  const char *name;    // in the record: "program-open"
  const char *words;   // in the transcript; none: the event brings its own
  bool restartsWatch;  // a port opened or closed: both sides start over
  void (Judge::*judge)(int64_t us, bool halfMessage);  // what the judge makes of it, if anything
  Replay replay;
  // As `plot` draws an event: the stretch it begins or ends, and a few words
  // at its moment (none: no mark of its own).
  Stretch begins, ends;
  const char *label;
};

const EventKind &kindOf(Event event);
Event eventNamed(const std::string &name);  // COUNT when there is none of that name

}  // namespace device
