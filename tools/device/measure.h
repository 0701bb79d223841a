// Commands that measure the program rather than drive it: keystroke
// latency, a soak of mixed traffic, and a flood at the line's rate.
#pragma once

#include "session.h"

namespace device {

// N keystrokes at random moments; prints each write time (raw monotonic
// microseconds) and the write-to-FC percentiles.
bool measureLatency(Session &s, int count);

// Mixed traffic at a device's pace for the given time: keystrokes that wait
// for their FC, queries, identify requests and Scroll Lock changes. Prints
// one summary line: keystrokes, FCs, lost, FC latency, answers.
bool soak(Session &s, int seconds);

// One byte value, over and over, at 9600 baud's line rate for the given
// time, reading the answers. Prints a summary with the answers per second.
bool flood(Session &s, int ms, int byte);

}  // namespace device
