#include "port/port.h"

#include "port/setup.h"
#include "shared/report_error.h"
#include "shared/state.h"
#include "shared/texts.h"

char portName[5] = "COMx";

namespace {
// Without a request, or when the requested port is not free, COM1 to COM4
// are tried in turn.
const char FIRST_SEARCHED_PORT = '1';
const char LAST_SEARCHED_PORT = '4';
const int DIGIT_IN_NAME = 3;  // "COMx"

// The port's name when it can be opened exclusively, else null.
LPCSTR probePort(char digit) {
  portName[DIGIT_IN_NAME] = digit;
  portHandle = openExclusive(portName, 0);
  if (portHandle == INVALID_HANDLE_VALUE) return nullptr;
  CloseHandle(portHandle);
  return portName;
}
}  // namespace

LPCSTR findPort(char c) {
  if (c != '\0' && probePort(c)) return portName;
  for (char digit = FIRST_SEARCHED_PORT; digit <= LAST_SEARCHED_PORT; digit++)
    if (probePort(digit)) return portName;
  return nullptr;
}

bool openPort(LPCSTR name) {
  portHandle = openExclusive(name, FILE_ATTRIBUTE_NORMAL);
  if (portHandle == INVALID_HANDLE_VALUE) {
    reportError(TEXT_PORT_NOT_OPENED);
    return false;
  }
  switch (setUpPort()) {
    case SETUP_DONE: return true;
    case SETUP_LINE_REFUSED:
      closeLink();
      reportError(TEXT_LINE_REFUSED);
      return false;
    default: return false;  // the port stays open; the program ends at once
  }
}

void closeLink() {
  KillTimer(mainWindow, pollTimerId);
  if (portHandle != INVALID_HANDLE_VALUE) CloseHandle(portHandle);
}
