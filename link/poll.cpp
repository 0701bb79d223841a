#include "link/poll.h"

#include "keys/modifier_flags.h"
#include "link/message.h"
#include "shared/state.h"

namespace {
// The device's identity reply carries these two fixed values.
const int IDENTITY_DATA1 = 2;
const int IDENTITY_DATA2 = 34;
}  // namespace

void strokeKey(BYTE vk, BYTE scan) {
  keybd_event(vk, scan, 0, 0);
  keybd_event(vk, scan, KEYEVENTF_KEYUP, 0);
  sendMessage(CMD_KEY_DONE, false, 0, 0);
}

bool handleMessage(int command, BYTE data1, BYTE data2) {
  switch (command) {
    case CMD_KEY_STROKE:
    case CMD_SYS_KEY_STROKE: strokeKey(data2, data1); return true;
    case CMD_MODIFIER_FLAGS: applyModifierFlags(data2); return false;
    case CMD_QUERY_MODIFIERS:
      sendMessage(CMD_MODIFIER_FLAGS, true, 0, readModifierFlags());
      return false;
    case CMD_IDENTIFY:
      sendMessage(CMD_IDENTITY, true, IDENTITY_DATA1, IDENTITY_DATA2);
      return false;
    default: return false;
  }
}

void pollLink() {
  for (;;) {
    // One byte per read: with the port's time-outs an idle line costs 26 ms.
    DWORD got = 0;
    BYTE *slot = &receiveBuffer.slot[receiveBuffer.count];
    if (!ReadFile(portHandle, slot, 1, &got, nullptr) || got == 0) return;

    LinkMessage message;
    if (!decodeStep(&message)) continue;
    if (handleMessage(message.command, message.data1, message.data2)) return;
  }
}
