// The main window: minimised on the task bar, driving the poll timer, and
// restorable only with Shift held, when it shows the key monitor.
#pragma once

#include <windows.h>

// True when the class cannot be registered.
bool registerMainClass();

// Created hidden: start-up shows it, minimised, once the port works. Null on
// failure.
HWND createMainWindow();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
