// The key monitor: keys typed into the main window go out of the port in the
// link format, so a user can see which message emulates which key. Its
// handlers serve the main window's procedure; each returns 0.
#pragma once

#include <windows.h>

#include "keys/modifier_flags.h"

// The flags most recently sent by the monitor; 0 at start.
extern ModifierFlags lastReportedFlags;

// WM_PAINT: the monitor's explanation, 20 pixels inside the client area.
LRESULT onMonitorPaint(HWND window);

// WM_KEYDOWN and WM_SYSKEYDOWN: a changed flags byte, then the key itself
// unless it is an auto-repeat. The messages are consumed, so system
// shortcuts such as Alt+F4 reach the device and not the window.
LRESULT onMonitorKeyDown(UINT message, WPARAM vk, LPARAM keyData);

// WM_KEYUP and WM_SYSKEYUP: a changed flags byte.
LRESULT onMonitorKeyUp();
