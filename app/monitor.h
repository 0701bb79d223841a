// The key monitor: keys typed into the main window go out of the port in the
// link format, so a user can see which message emulates which key.
#pragma once

#include <windows.h>

#include "keys/modifier_flags.h"

// The flags most recently sent by the monitor.
extern ModifierFlags lastReportedFlags;

void paintMonitor(HWND window);

// Sends the current modifier flags when they differ from the last ones sent.
void reportModifierChange();

// Sends one key-down: its scan code (bits 16-23 of keyData) and virtual key.
void sendTypedKey(bool isSystemKey, DWORD vk, DWORD keyData);
