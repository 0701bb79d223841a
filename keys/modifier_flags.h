// The lock and modifier keys as one byte, laid out like the PC BIOS keyboard
// shift-status byte: lock keys in the upper four bits, modifiers below.
#pragma once

#include <windows.h>

typedef BYTE ModifierFlags;

struct ModifierKeyEntry {
  BYTE flagMask;   // the one bit of ModifierFlags this row owns
  SHORT testMask;  // 0x0001: toggle row, thread key state; else held row, async state
  DWORD vk;
};

extern const ModifierKeyEntry modifierKeyTable[8];

ModifierFlags readModifierFlags();

// The flags as this poll cycle's requests left them: readModifierFlags, with
// the lock keys requested in this cycle as requested. The thread's key state
// shows the program's own lock-key events only once it has taken their
// messages, after the cycle.
ModifierFlags expectedModifierFlags();
// A new poll cycle: the thread has taken the last cycle's key messages.
void forgetRequestedLocks();

// Drives the keys until they match the requested byte. The request is
// absolute: every row that differs from the expected state is changed, so
// any number of requests in one cycle leave the keys as the last one said.
void applyModifierFlags(ModifierFlags desired);

// Releases every held key (Alt, Ctrl, Shift) that applyModifierFlags pressed
// and has not released since, so none stays down after the program ends.
void releaseHeldModifiers();
