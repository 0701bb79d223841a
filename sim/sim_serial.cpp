// Serial ports COM1..COM9 as scripted byte queues. A read of an empty line
// returns success with 0 bytes, as a real read does when its time-out passes.
#include <windows.h>

#include <cstring>

#include "sim/sim.h"

namespace {
// 9600 baud, 11 bits a byte with start, parity and stop bits.
const uint64_t BYTE_TIME_US = 1146;

sim::Port ports[10];
std::vector<std::string> attempts;

// Port n's handle is the small integer 0x100 + n.
HANDLE handleOf(int number) { return (HANDLE)(uintptr_t)(0x100 + number); }

// The port behind an open handle, whether its adapter is there or not.
sim::Port *portOf(HANDLE handle) {
  uintptr_t value = (uintptr_t)handle;
  if (value < 0x101 || value > 0x109) return nullptr;
  sim::Port &p = ports[value - 0x100];
  return p.open ? &p : nullptr;
}

// The port behind an open handle, unless its adapter has gone.
sim::Port *openPortOf(HANDLE handle) {
  sim::Port *p = portOf(handle);
  return p && !p->unplugged ? p : nullptr;
}

// The port, when it is open and the given set-up call is not scripted to fail.
sim::Port *setUpPort(HANDLE handle, sim::SetupStep step) {
  sim::Port *p = openPortOf(handle);
  return p && p->failing != step ? p : nullptr;
}
}  // namespace

namespace sim {
void resetPorts() {
  for (Port &p : ports) p = Port();
  attempts.clear();
}
Port &port(int number) { return ports[number]; }
std::vector<std::string> &openAttempts() { return attempts; }
void deviceSends(int number, std::initializer_list<BYTE> bytes) {
  ports[number].input.insert(ports[number].input.end(), bytes);
}
void unplug(int number) {
  ports[number].kind = PortKind::Absent;
  ports[number].unplugged = true;
  ports[number].input.clear();
}
void plugIn(int number) {
  ports[number].kind = PortKind::Free;
  // A handle kept from before the adapter went stays dead.
  ports[number].unplugged = ports[number].open;
}
}  // namespace sim

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
  attempts.push_back(name);
  if (std::strlen(name) != 4 || std::strncmp(name, "COM", 3) != 0 || name[3] < '1' || name[3] > '9')
    return INVALID_HANDLE_VALUE;
  int number = name[3] - '0';
  sim::Port &p = ports[number];
  bool exclusiveTaken = p.open && shareMode == 0;
  if (p.kind != sim::PortKind::Free || exclusiveTaken || disposition != OPEN_EXISTING ||
      access != (GENERIC_READ | GENERIC_WRITE))
    return INVALID_HANDLE_VALUE;
  p.open = true;
  return handleOf(number);
}

// Closing works on a handle whose adapter has gone, as it must.
BOOL WINAPI CloseHandle(HANDLE handle) {
  sim::Port *p = portOf(handle);
  if (!p) return FALSE;
  p->open = false;
  p->unplugged = false;  // what opens next is a new handle
  return TRUE;
}

BOOL WINAPI SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  sim::Port *p = setUpPort(handle, sim::SetupStep::SetupComm);
  if (!p) return FALSE;
  p->inQueue = inQueue;
  p->outQueue = outQueue;
  return TRUE;
}

BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
  sim::Port *p = setUpPort(handle, sim::SetupStep::GetCommState);
  if (!p) return FALSE;
  *dcb = p->dcb;
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
  sim::Port *p = setUpPort(handle, sim::SetupStep::SetCommState);
  if (!p) return FALSE;
  p->dcb = *dcb;
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS timeouts) {
  sim::Port *p = setUpPort(handle, sim::SetupStep::SetCommTimeouts);
  if (!p) return FALSE;
  p->timeouts = *timeouts;
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  *read = 0;
  sim::Port *p = openPortOf(handle);
  if (!p) return FALSE;
  p->reads++;
  BYTE *out = (BYTE *)buffer;
  while (*read < toRead && !p->input.empty()) {
    out[(*read)++] = p->input.front();
    p->input.pop_front();
  }
  // Nothing came: the read returns when its total time-out has passed.
  if (*read == 0)
    sim::advanceClockUs(1000ull * (p->timeouts.ReadTotalTimeoutConstant +
                                   p->timeouts.ReadTotalTimeoutMultiplier * toRead));
  if (!p->arriving.empty()) {
    p->input.push_back(p->arriving.front());
    p->arriving.pop_front();
  }
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  sim::Port *p = openPortOf(handle);
  if (!p) return FALSE;
  p->writes++;
  // The write returns once the output queue has room for all of it, the
  // line taking one byte every BYTE_TIME_US.
  uint64_t capacity = p->outQueue > toWrite && !p->writesWaitForLine ? p->outQueue : toWrite;
  uint64_t now = sim::clockUs();
  uint64_t queueTimeUs = (capacity - toWrite) * BYTE_TIME_US;
  uint64_t roomAt = p->lineFreeAtUs > queueTimeUs ? p->lineFreeAtUs - queueTimeUs : 0;
  if (roomAt > now) {
    sim::advanceClockUs(roomAt - now);
    p->writesWaitedUs += roomAt - now;
    now = roomAt;
  }
  p->lineFreeAtUs = (p->lineFreeAtUs > now ? p->lineFreeAtUs : now) + toWrite * BYTE_TIME_US;
  const BYTE *in = (const BYTE *)buffer;
  p->output.insert(p->output.end(), in, in + toWrite);
  *written = toWrite;
  return TRUE;
}

BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT status) {
  sim::Port *p = openPortOf(handle);
  if (!p) return FALSE;
  if (errors) *errors = 0;
  if (status) {
    *status = COMSTAT();
    status->cbInQue = (DWORD)p->input.size();
  }
  return TRUE;
}
