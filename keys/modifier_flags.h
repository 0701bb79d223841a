// The lock and modifier keys as one byte, laid out like the PC BIOS keyboard
// shift-status byte: Insert, Caps Lock, Num Lock and Scroll Lock (toggled)
// in bits 7 to 4, Alt, Ctrl and Shift twice (held) in bits 3 to 0.
#pragma once

#include <windows.h>

typedef BYTE ModifierFlags;

// Held keys this program has pressed and not yet released, by flag bit.
extern ModifierFlags pressedByProgram;
// The last request of this poll cycle, when there was one.
extern bool locksRequested;
extern ModifierFlags requestedFlags;

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
