// Ctrl+C, SIGTERM and a closed terminal set stopSignal to the signal's
// number, and every wait of the tool looks at it; a closed pipe and a file
// grown past its limit show as write errors instead.
#pragma once

#include <csignal>

namespace device {

extern volatile sig_atomic_t stopSignal;
void catchSignals();

}  // namespace device
