// The tool's two clocks, both in microseconds since it started.
#pragma once

#include <cstdint>

namespace device {

// The clock: for waits, deadlines and the line's pace.
int64_t clockUs();
// The time to stamp on an input to a run's view (bytes, events, line
// errors): the clock, but never the same twice, so that a record's inputs
// sort back into the order the run took them. Only for the view: it may run
// a little ahead of the clock.
int64_t stampUs();

}  // namespace device
