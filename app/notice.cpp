#include "app/notice.h"

#include <stdio.h>

#include "res/resource.h"
#include "shared/state.h"
#include "shared/texts.h"

char noticeText[] = NOTICE_TEXT;

SHORT noticeCountdown;

namespace {
const UINT_PTR NOTICE_TIMER = 1;
const UINT ONE_SECOND_MS = 1000;
const SHORT COUNTDOWN_START = 10;

void closeNotice(HWND dialog) {
  KillTimer(dialog, pollTimerId);
  EndDialog(dialog, 0);
}

void showCountdown(HWND dialog) {
  SHORT shown = noticeCountdown;
  noticeCountdown = (SHORT)(shown - 1);
  char text[12];  // room for any SHORT
  sprintf(text, COUNTDOWN_FORMAT, shown);
  SetDlgItemTextA(dialog, IDC_NOTICE_COUNTDOWN, text);
  // The tick that shows 0:00 is the last: eleven ticks from 0:10.
  if (noticeCountdown < 0) closeNotice(dialog);
}
}  // namespace

void insertNoticePortDigit(char digit) {
  for (char *c = noticeText; *c; c++) {
    if (*c == '#') {
      *c = digit;
      return;
    }
  }
}

INT_PTR CALLBACK noticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      pollTimerId = SetTimer(dialog, NOTICE_TIMER, ONE_SECOND_MS, nullptr);
      SetDlgItemTextA(dialog, IDC_NOTICE_TEXT, noticeText);
      noticeCountdown = COUNTDOWN_START;
      return TRUE;
    case WM_COMMAND:
      // OK, Esc and the caption's close box.
      if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
      closeNotice(dialog);
      return TRUE;
    case WM_TIMER: showCountdown(dialog); return TRUE;
    default: return FALSE;
  }
}
