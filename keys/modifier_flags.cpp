#include "keys/modifier_flags.h"

namespace {
const SHORT TOGGLED = 0x0001;
const SHORT DOWN = (SHORT)0x8000;

struct ModifierKeyEntry {
  BYTE flagMask;   // the one bit of ModifierFlags this row owns
  SHORT testMask;  // TOGGLED: the thread's key state; DOWN: the asynchronous state
  DWORD vk;
};

// Processed in this order, bit 7 first. The BIOS byte has a left and a right
// Shift bit; Windows' generic Shift key serves both, so two rows name it.
const ModifierKeyEntry modifierKeyTable[8] = {
    {0x80, TOGGLED, VK_INSERT},   // Insert
    {0x40, TOGGLED, VK_CAPITAL},  // Caps Lock
    {0x20, TOGGLED, VK_NUMLOCK},  // Num Lock
    {0x10, TOGGLED, VK_SCROLL},   // Scroll Lock
    {0x08, DOWN, VK_MENU},        // Alt
    {0x04, DOWN, VK_CONTROL},     // Ctrl
    {0x02, DOWN, VK_SHIFT},       // left Shift in the BIOS byte
    {0x01, DOWN, VK_SHIFT},       // right Shift in the BIOS byte
};

bool isToggleRow(const ModifierKeyEntry &row) { return row.testMask == TOGGLED; }

void sendKey(const ModifierKeyEntry &row, DWORD flags) {
  BYTE scan = (BYTE)MapVirtualKeyA(row.vk, MAPVK_VK_TO_VSC);
  keybd_event((BYTE)row.vk, scan, flags, 0);
}

// Both Shift rows name the one Shift key: a key-up releases it for both.
void forgetPressedKey(DWORD vk) {
  for (const ModifierKeyEntry &row : modifierKeyTable)
    if (row.vk == vk) pressedByProgram &= (ModifierFlags)~row.flagMask;
}
}  // namespace

ModifierFlags pressedByProgram;
bool locksRequested;
ModifierFlags requestedFlags;

ModifierFlags readModifierFlags() {
  ModifierFlags flags = 0;
  for (const ModifierKeyEntry &row : modifierKeyTable) {
    // A lock key's toggle lives only in the thread's key state; whether a
    // modifier is down right now is the asynchronous state.
    SHORT state = isToggleRow(row) ? GetKeyState(row.vk) : GetAsyncKeyState(row.vk);
    if (row.testMask & state) flags |= row.flagMask;
  }
  return flags;
}

ModifierFlags expectedModifierFlags() {
  ModifierFlags flags = readModifierFlags();
  if (!locksRequested) return flags;
  for (const ModifierKeyEntry &row : modifierKeyTable)
    if (isToggleRow(row))
      flags = (ModifierFlags)((flags & ~row.flagMask) | (requestedFlags & row.flagMask));
  return flags;
}

void forgetRequestedLocks() { locksRequested = false; }

void applyModifierFlags(ModifierFlags desired) {
  // Read once: the events below take effect later, when the system gets to them.
  ModifierFlags current = expectedModifierFlags();
  if (current == desired) return;
  locksRequested = true;
  requestedFlags = desired;

  for (const ModifierKeyEntry &row : modifierKeyTable) {
    if ((row.flagMask & desired) == (row.flagMask & current)) continue;
    if (row.flagMask & desired) {
      sendKey(row, 0);
      // A lock key flips on a full press and release; a modifier stays down.
      if (isToggleRow(row))
        sendKey(row, KEYEVENTF_KEYUP);
      else
        pressedByProgram |= row.flagMask;
    } else {
      if (isToggleRow(row)) sendKey(row, 0);
      sendKey(row, KEYEVENTF_KEYUP);
      forgetPressedKey(row.vk);
    }
  }
}

void releaseHeldModifiers() {
  for (const ModifierKeyEntry &row : modifierKeyTable) {
    if (!(pressedByProgram & row.flagMask)) continue;
    sendKey(row, KEYEVENTF_KEYUP);
    forgetPressedKey(row.vk);
  }
}
