#include "app/main_window.h"

#include "app/monitor.h"
#include "keys/modifier_flags.h"
#include "link/poll.h"
#include "port/port.h"

namespace {
const LPARAM KEY_WAS_DOWN = 1 << 30;  // lParam bit of an auto-repeat

LRESULT onQueryOpen(HWND window, WPARAM wParam, LPARAM lParam) {
  // Restoring is refused unless Shift is down as the request is handled:
  // the window's only visible face is the key monitor, for those who ask.
  if (GetKeyState(VK_SHIFT) & 0x80) return DefWindowProcA(window, WM_QUERYOPEN, wParam, lParam);
  return 0;
}

LRESULT onShutdown(HWND window) {
  releaseHeldModifiers();
  closeLink();
  DestroyWindow(window);
  PostQuitMessage(0);
  return 1;  // the session may end
}
}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: pollLink(); return 0;
    case WM_QUERYOPEN: return onQueryOpen(window, wParam, lParam);
    case WM_CLOSE:
    case WM_QUERYENDSESSION: return onShutdown(window);
    case WM_PAINT: paintMonitor(window); return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      // Consumed, so system shortcuts such as Alt+F4 reach the device, not the window.
      reportModifierChange();
      if (!(lParam & KEY_WAS_DOWN))
        sendTypedKey(message == WM_SYSKEYDOWN, (DWORD)wParam, (DWORD)lParam);
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP: reportModifierChange(); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}
