// The start-up notice: names the port and closes itself after a countdown.
#pragma once

#include <windows.h>

// The notice's text; its '#' becomes the chosen port's digit.
extern char noticeText[];
// The countdown's next value: 10 when the notice opens, below 0 once it has shown 0:00.
extern SHORT noticeCountdown;

// Writes the chosen port's digit over the '#' in the notice text.
void insertNoticePortDigit(char digit);

INT_PTR CALLBACK noticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
