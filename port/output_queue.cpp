// The program's own account of the port's output queue. The port is asked
// for a 1024-byte output queue on a 9600 8O1 line, which carries one byte
// every 1.146 ms. A write the queue has no room for waits for the line, and
// some drivers make it wait far longer than the line needs: a
// pseudo-terminal under Wine, for one, wakes a waiting writer only once its
// own 20 KB buffer has nearly drained, about 24 s at the line's pace.
// Counting what was written, less what the line has carried since, lets a
// poll cycle stop before a write could wait at all.
#include "port/port.h"
#include "port/setup.h"

DWORD outputQueueUs;
DWORD outputQueueCountedAt;

namespace {
const DWORD BYTE_TIME_US = 1146;  // 11 bits a byte: start, 8 data, parity, stop
const DWORD QUEUE_TIME_US = OUTPUT_QUEUE_BYTES * BYTE_TIME_US;

// Brings the count up to now.
void countToNow() {
  DWORD now = GetTickCount();
  DWORD elapsedMs = now - outputQueueCountedAt;  // unsigned: right across the tick count's wrap
  outputQueueUs = elapsedMs >= outputQueueUs / 1000 + 1 ? 0 : outputQueueUs - elapsedMs * 1000;
  outputQueueCountedAt = now;
}
}  // namespace

void forgetOutputQueue() { outputQueueUs = 0; }

void noteWritten(DWORD bytes) {
  countToNow();
  outputQueueUs += bytes * BYTE_TIME_US;
}

bool outputQueueHasRoom(DWORD bytes) {
  countToNow();
  return outputQueueUs + bytes * BYTE_TIME_US <= QUEUE_TIME_US;
}
