// How a run ends on request. The tap and the conformance run check a stop
// flag that Ctrl+C, SIGTERM and a closed terminal set, and end with their
// summary. Script mode waits in too many places for a flag: there the same
// signals remove the program's COM port link and end the process.
// The tap and the conformance run notice a reader that goes away (a closed
// pipe) by the write, not by SIGPIPE; script mode ends on SIGPIPE as above.
#pragma once

#include <csignal>
#include <string>

namespace device {

extern volatile sig_atomic_t stopRequested;

void stopOnSignals();

// Script mode: on SIGINT, SIGTERM, SIGHUP or SIGPIPE, removes `link` if it
// still points at `target`, then ends the process as the signal would have.
void removeLinkOnSignals(const std::string &link, const std::string &target);

}  // namespace device
