// Opening a port exclusively and setting up its line: shared by start-up and
// by reopening a port that failed.
#pragma once

#include <windows.h>

// The queue sizes asked of the port's driver, in bytes.
const DWORD INPUT_QUEUE_BYTES = 2048;
const DWORD OUTPUT_QUEUE_BYTES = 1024;

// "COMx": the x is overwritten with each candidate digit, so COM1 to COM9.
// After the search it names the chosen port, which reopening opens again.
extern char portName[5];

// Share mode 0: a port another program holds counts as busy.
HANDLE openExclusive(LPCSTR name, DWORD attributes);

enum SetupResult { SETUP_DONE, SETUP_REFUSED, SETUP_LINE_REFUSED };

// Queue sizes, line settings and read time-outs on portHandle. Stops at the
// first call the port refuses; SETUP_LINE_REFUSED when that was the line
// settings themselves.
SetupResult setUpPort();
