// Choosing, opening, configuring and closing the device's serial port.
#pragma once

#include <windows.h>

// c is a requested digit '1'-'9' or the terminating zero for none. Tries the
// requested port, then COM1 to COM4; returns the first free one, or null.
LPCSTR findPort(char c);

// Opens and configures the port into portHandle; false on failure, after
// reporting the failures the user can act on.
bool openPort(LPCSTR name);

// Stops the main window's running timer and closes the port.
void closeLink();

// GetTickCount of the port's failure or of the last attempt to reopen it.
extern DWORD lastReopenAttempt;

// A port that failed while running: portHandle is INVALID_HANDLE_VALUE from
// the failure until the port is open again.
bool portLost();
// Closes the port after a failed read or write; nothing when already lost.
void dropPort();
// Opens the lost port again, by the same name and with the same settings,
// when a second has passed since the failure or the last attempt; true once
// it is open and set up.
bool reopenPort();

// The line time still needed for what was written, in microseconds, as of
// the GetTickCount outputQueueCountedAt.
extern DWORD outputQueueUs;
extern DWORD outputQueueCountedAt;
// A port opened afresh has an empty output queue.
void forgetOutputQueue();
// What was written to the port, counted against the output queue.
void noteWritten(DWORD bytes);
// Whether the output queue has room for this many more bytes now, by what was
// written and what the line has carried since: if so, a write of them does
// not wait.
bool outputQueueHasRoom(DWORD bytes);
