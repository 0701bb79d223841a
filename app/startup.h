// The program's entry routine: the start-up story, the message loop and the
// exit code.
#pragma once

#include <windows.h>

// Returns the process exit code: 0 normal end, 1 class not registered,
// 2 window not created, 3 port not opened or configured, 4 no free port.
int runApplication(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandTail,
                   int showCommand);

// The first digit '1'-'9' in the command tail, or the terminating zero.
char requestedPortDigit(LPCSTR commandTail);
