#include "app/monitor.h"

#include "link/message.h"
#include "shared/texts.h"

ModifierFlags lastReportedFlags;

namespace {
const int TEXT_MARGIN = 20;
const LPARAM KEY_WAS_DOWN = 1 << 30;  // lParam bit of an auto-repeat

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

// Sends the current flags when they differ from the last ones sent.
void reportModifierChange() {
  ModifierFlags flags = readModifierFlags();
  if (flags == lastReportedFlags) return;
  lastReportedFlags = flags;
  sendMessage(CMD_MODIFIER_FLAGS, true, 0, flags);
}

// One key-down: the scan code (bits 16-23 of keyData) and the virtual key,
// by their low 8 bits; the extended-key bit and the rest are not sent.
void sendTypedKey(bool isSystemKey, DWORD vk, DWORD keyData) {
  int command = isSystemKey ? CMD_SYS_KEY_STROKE : CMD_KEY_STROKE;
  sendMessage(command, true, (keyData >> 16) & 0xFF, vk & 0xFF);
}
}  // namespace

LRESULT onMonitorPaint(HWND window) {
  paintMonitor(window);
  return 0;
}

LRESULT onMonitorKeyDown(UINT message, WPARAM vk, LPARAM keyData) {
  reportModifierChange();
  if (!(keyData & KEY_WAS_DOWN)) sendTypedKey(message == WM_SYSKEYDOWN, (DWORD)vk, (DWORD)keyData);
  return 0;
}

LRESULT onMonitorKeyUp() {
  reportModifierChange();
  return 0;
}
