#include "port/setup.h"

#include "shared/state.h"

namespace {
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

HANDLE openExclusive(LPCSTR name, DWORD attributes) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes,
                     nullptr);
}

SetupResult setUpPort() {
  if (!SetupComm(portHandle, INPUT_QUEUE_BYTES, OUTPUT_QUEUE_BYTES)) return SETUP_REFUSED;

  DCB dcb;
  if (!GetCommState(portHandle, &dcb)) return SETUP_REFUSED;
  setLineDiscipline(&dcb);
  if (!SetCommState(portHandle, &dcb)) return SETUP_LINE_REFUSED;

  // A one-byte read gives up after 25 ms plus 1 ms per byte, which bounds what
  // an idle poll costs; writes have no time-out and wait however long the
  // port needs.
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = 25;
  timeouts.ReadTotalTimeoutMultiplier = 1;
  timeouts.ReadTotalTimeoutConstant = 25;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = 0;
  return SetCommTimeouts(portHandle, &timeouts) ? SETUP_DONE : SETUP_REFUSED;
}
