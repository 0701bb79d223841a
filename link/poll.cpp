#include "link/poll.h"

#include "keys/modifier_flags.h"
#include "link/message.h"
#include "port/port.h"
#include "shared/state.h"

namespace {
// The device's identity reply carries these two fixed values.
const int IDENTITY_DATA1 = 2;
const int IDENTITY_DATA2 = 34;

// A cycle takes new messages for one poll interval at most, and only while
// the port's output queue has room for an answer. A device that sends
// queries faster than the line carries their answers back would otherwise
// keep the thread in one cycle, away from its other messages (a close
// request among them): under a driver with a buffer of its own, for seconds
// in one write; under one whose writes wait for the line, 3.4 ms an answer.
// What is left waits in the port's input queue for the next tick.
const DWORD CYCLE_LIMIT_MS = 200;
const DWORD LONGEST_MESSAGE = 3;

// One press and release of the key, then the one-byte acknowledgement. The
// codes go as received: no scan code lookup, no extended-key flag.
void strokeKey(BYTE vk, BYTE scan) {
  keybd_event(vk, scan, 0, 0);
  keybd_event(vk, scan, KEYEVENTF_KEYUP, 0);
  sendMessage(CMD_KEY_DONE, false, 0, 0);
}

// Acts on one decoded message; true when the cycle is to end (a keystroke).
bool handleMessage(int command, BYTE data1, BYTE data2) {
  switch (command) {
    case CMD_KEY_STROKE:
    case CMD_SYS_KEY_STROKE: strokeKey(data2, data1); return true;
    case CMD_MODIFIER_FLAGS: applyModifierFlags(data2); return false;
    case CMD_QUERY_MODIFIERS:
      sendMessage(CMD_MODIFIER_FLAGS, true, 0, expectedModifierFlags());
      return false;
    case CMD_IDENTIFY:
      sendMessage(CMD_IDENTITY, true, IDENTITY_DATA1, IDENTITY_DATA2);
      return false;
    default: return false;  // commands 0 and 6 to 15 mean nothing here
  }
}

// The bytes waiting in the port's input queue; false when the port failed.
bool bytesWaiting(DWORD *count) {
  DWORD errors;
  COMSTAT status;
  if (!ClearCommError(portHandle, &errors, &status)) return false;
  *count = status.cbInQue;
  return true;
}

void handleWaitingMessages() {
  forgetRequestedLocks();

  // Only the bytes waiting as the cycle begins are read now, and the rest of
  // a message they begin: a device that never stops sending cannot keep the
  // thread here, away from its other messages (a close request among them).
  // An idle cycle still reads once, taking at once a message that begins
  // within the read's time-out.
  DWORD waiting;
  if (!bytesWaiting(&waiting)) {
    dropPort();
    return;
  }
  DWORD budget = waiting > 0 ? waiting : 1;
  DWORD began = GetTickCount();
  // Unsigned difference: right across the tick count's wrap.
  auto mayTakeMore = [began] {
    return GetTickCount() - began < CYCLE_LIMIT_MS && outputQueueHasRoom(LONGEST_MESSAGE);
  };

  // A message once begun is finished: at most two more reads and one answer.
  while (((budget > 0 && mayTakeMore()) || receiveBuffer.count > 0) && !portLost()) {
    // One byte per read: with the port's time-outs an idle line costs 26 ms.
    DWORD got = 0;
    BYTE *slot = &receiveBuffer.slot[receiveBuffer.count];
    if (!ReadFile(portHandle, slot, 1, &got, nullptr)) {
      dropPort();
      return;
    }
    if (got == 0) return;
    if (budget > 0) budget--;

    LinkMessage message;
    if (!decodeStep(&message)) continue;
    if (handleMessage(message.command, message.data1, message.data2)) return;
  }
}
}  // namespace

void pollLink() {
  if (portLost() && reopenPort()) {  // as freshly started
    receiveBuffer = ReceiveBuffer();
    forgetOutputQueue();
  }
  if (!portLost()) handleWaitingMessages();
  // A device that is gone cannot release the keys it held.
  if (portLost()) releaseHeldModifiers();
}
