// The program's entry routine and the main window's class.
#pragma once

#include <windows.h>

// Start-up, message loop and shutdown; returns the process exit code:
// 0 normal end, 1 class not registered, 2 window not created,
// 3 port not opened or configured, 4 no free port.
int runApplication(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandTail,
                   int showCommand);

// True when the class cannot be registered.
bool registerMainClass();

// The first digit '1'-'9' in the command tail, or the terminating zero.
char requestedPortDigit(LPCSTR commandTail);
