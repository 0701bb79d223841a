#include "port/port.h"

#include "shared/state.h"

char portName[5] = "COMx";

namespace {
const DWORD INPUT_QUEUE = 2048;
const DWORD OUTPUT_QUEUE = 1024;

HANDLE openExclusive(LPCSTR name, DWORD attributes) {
  // Share mode 0: a port another program holds counts as busy.
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes,
                     nullptr);
}

// 9600 baud, 8 data bits, odd parity, 1 stop bit, and a line that passes
// every byte value unchanged and never holds the program back.
void setLineDiscipline(DCB *dcb) {
  dcb->BaudRate = 9600;
  dcb->ByteSize = 8;
  dcb->Parity = ODDPARITY;
  dcb->StopBits = ONESTOPBIT;

  // Data bytes 0x11 and 0x13 are key codes, not XON and XOFF.
  dcb->fOutX = FALSE;
  dcb->fInX = FALSE;
  // No byte is dropped or replaced, and a line error does not stop the port.
  dcb->fBinary = TRUE;
  dcb->fNull = FALSE;
  dcb->fErrorChar = FALSE;
  dcb->fAbortOnError = FALSE;

  // Writes have no time-out, so a handshake line that the device never raises
  // would block the program for good. Another program may have left the port
  // in a handshake mode; the lines become plainly raised instead.
  dcb->fOutxCtsFlow = FALSE;
  dcb->fOutxDsrFlow = FALSE;
  dcb->fDsrSensitivity = FALSE;
  if (dcb->fRtsControl >= RTS_CONTROL_HANDSHAKE) dcb->fRtsControl = RTS_CONTROL_ENABLE;
  if (dcb->fDtrControl >= DTR_CONTROL_HANDSHAKE) dcb->fDtrControl = DTR_CONTROL_ENABLE;
}
}  // namespace

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
  if (!SetupComm(portHandle, INPUT_QUEUE, OUTPUT_QUEUE)) return false;

  DCB dcb;
  if (!GetCommState(portHandle, &dcb)) return false;
  setLineDiscipline(&dcb);
  if (!SetCommState(portHandle, &dcb)) {
    closeLink();
    reportError("Failed initializing COM port!");
    return false;
  }

  // A one-byte read gives up after 25 ms plus 1 ms per byte, which bounds what
  // an idle poll costs; writes wait however long the port needs.
  COMMTIMEOUTS timeouts = {25, 1, 25, 0, 0};
  return SetCommTimeouts(portHandle, &timeouts) != FALSE;
}

void closeLink() {
  KillTimer(mainWindow, pollTimerId);
  CloseHandle(portHandle);
}
