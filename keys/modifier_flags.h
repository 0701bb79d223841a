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

// Drives the keys until they match the requested byte. The request is
// absolute: every row that differs from the current state is changed.
void applyModifierFlags(ModifierFlags desired);

// Releases every held key (Alt, Ctrl, Shift) that applyModifierFlags pressed
// and has not released since, so none stays down after the program ends.
void releaseHeldModifiers();
