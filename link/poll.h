// The poll cycle: reads the device's bytes and acts on each message.
#pragma once

#include <windows.h>

// One cycle: handles the messages waiting as it begins, up to and including
// the first keystroke, so at most one key is emulated per timer tick. A port
// that fails is closed, and reopened by later cycles once it works again.
void pollLink();
