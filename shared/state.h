// Process-wide state shared between the program's parts. Everything starts
// at zero and lives until the process ends.
#pragma once

#include <windows.h>

extern HINSTANCE appInstance;
extern HWND mainWindow;
// The running timer: the notice's one-second timer while the notice is open,
// then the main window's poll timer.
extern UINT_PTR pollTimerId;
// The one serial port of the process; all I/O on it is synchronous.
extern HANDLE portHandle;
