// A port that fails while the program runs (a USB adapter unplugged, say) is
// closed, then opened again by the same name and set up as at start-up, at
// most once a second and without a word to the user, until it works again.
#include "port/port.h"
#include "port/setup.h"
#include "shared/state.h"

namespace {
const DWORD RETRY_INTERVAL_MS = 1000;
}  // namespace

DWORD lastReopenAttempt;

bool portLost() { return portHandle == INVALID_HANDLE_VALUE; }

void dropPort() {
  if (portLost()) return;
  CloseHandle(portHandle);
  portHandle = INVALID_HANDLE_VALUE;
  lastReopenAttempt = GetTickCount();
}

bool reopenPort() {
  // Unsigned difference: right across the tick count's wrap after 49.7 days.
  DWORD now = GetTickCount();
  if (now - lastReopenAttempt < RETRY_INTERVAL_MS) return false;
  lastReopenAttempt = now;

  portHandle = openExclusive(portName, FILE_ATTRIBUTE_NORMAL);
  if (portLost()) return false;
  if (setUpPort() == SETUP_DONE) return true;
  CloseHandle(portHandle);
  portHandle = INVALID_HANDLE_VALUE;
  return false;
}
