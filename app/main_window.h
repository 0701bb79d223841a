// The main window: minimised on the task bar, driving the poll timer, and
// restorable only with Shift held, when it shows the key monitor.
#pragma once

#include <windows.h>

#define MAIN_WINDOW_TITLE "Ostrel TALLIVER for Windows95/NT"

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
