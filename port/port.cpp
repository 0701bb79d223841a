#include "port/port.h"

#include "port/setup.h"
#include "shared/state.h"

char portName[5] = "COMx";

LPCSTR probePort(char digit) {
  portName[3] = digit;
  portHandle = openExclusive(portName, 0);
  if (portHandle == INVALID_HANDLE_VALUE) return nullptr;
  CloseHandle(portHandle);
  return portName;
}

LPCSTR findPort(char c) {
  if (c != '\0' && probePort(c)) return portName;
  for (char digit = '1'; digit <= '4'; digit++)
    if (probePort(digit)) return portName;
  return nullptr;
}

bool openPort(LPCSTR name) {
  portHandle = openExclusive(name, FILE_ATTRIBUTE_NORMAL);
  if (portHandle == INVALID_HANDLE_VALUE) {
    reportError(
        "Unable to open COM port! Check the port number specified as parameter to QELMO "
        "and make sure it's a valid COM port. Or remove the parameter to have QELMO search "
        "for a free port for you.");
    return false;
  }
  switch (setUpPort()) {
    case SETUP_DONE: return true;
    case SETUP_LINE_REFUSED:
      closeLink();
      reportError("Failed initializing COM port!");
      return false;
    default: return false;  // the port stays open; the program ends at once
  }
}

void closeLink() {
  KillTimer(mainWindow, pollTimerId);
  if (portHandle != INVALID_HANDLE_VALUE) CloseHandle(portHandle);
}
