#include "app/monitor.h"

#include "link/message.h"

ModifierFlags lastReportedFlags;

namespace {
const char MONITOR_TEXT[] =
    "Typing characters into this window causes them to be sent out the COM port in the "
    "TALLIVER format.\r\n\nThis can be used to determine which data to send in order to "
    "emulate keys.";
const int TEXT_MARGIN = 20;
}  // namespace

void paintMonitor(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SetBkMode(dc, TRANSPARENT);
  RECT area;
  GetClientRect(window, &area);
  InflateRect(&area, -TEXT_MARGIN, -TEXT_MARGIN);
  DrawTextA(dc, MONITOR_TEXT, -1, &area, DT_WORDBREAK);
  EndPaint(window, &paint);
}

void reportModifierChange() {
  ModifierFlags flags = readModifierFlags();
  if (flags == lastReportedFlags) return;
  lastReportedFlags = flags;
  sendMessage(CMD_MODIFIER_FLAGS, true, 0, flags);
}

void sendTypedKey(bool isSystemKey, DWORD vk, DWORD keyData) {
  int command = isSystemKey ? CMD_SYS_KEY_STROKE : CMD_KEY_STROKE;
  sendMessage(command, true, (keyData >> 16) & 0xFF, vk & 0xFF);
}
