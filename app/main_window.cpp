#include "app/main_window.h"

#include "app/monitor.h"
#include "keys/modifier_flags.h"
#include "link/poll.h"
#include "port/port.h"
#include "shared/state.h"
#include "shared/texts.h"

namespace {
// A caption and a minimise box, but no sizing border and no maximise box.
const DWORD MAIN_WINDOW_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
const int MAIN_WINDOW_X = 100, MAIN_WINDOW_Y = 100;
const int MAIN_WINDOW_WIDTH = 300, MAIN_WINDOW_HEIGHT = 200;
const SHORT KEY_DOWN = 0x80;  // in the key-state byte

LRESULT onTimer() {
  pollLink();
  return 0;
}

LRESULT onQueryOpen(HWND window, WPARAM wParam, LPARAM lParam) {
  // Restoring is refused unless Shift is down in the thread's key state as
  // the request is handled: the window's only face is the key monitor, for
  // those who ask for it.
  if (GetKeyState(VK_SHIFT) & KEY_DOWN) return DefWindowProcA(window, WM_QUERYOPEN, wParam, lParam);
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

bool registerMainClass() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = appInstance;
  windowClass.hIcon = LoadIconA(appInstance, ICON_NAME);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(uintptr_t)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = MAIN_CLASS_NAME;
  return RegisterClassA(&windowClass) == 0;
}

HWND createMainWindow() {
  return CreateWindowExA(0, MAIN_CLASS_NAME, MAIN_WINDOW_TITLE, MAIN_WINDOW_STYLE, MAIN_WINDOW_X,
                         MAIN_WINDOW_Y, MAIN_WINDOW_WIDTH, MAIN_WINDOW_HEIGHT, nullptr, nullptr,
                         appInstance, nullptr);
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER: return onTimer();
    case WM_QUERYOPEN: return onQueryOpen(window, wParam, lParam);
    case WM_CLOSE:
    case WM_QUERYENDSESSION: return onShutdown(window);
    case WM_PAINT: return onMonitorPaint(window);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: return onMonitorKeyDown(message, wParam, lParam);
    case WM_KEYUP:
    case WM_SYSKEYUP: return onMonitorKeyUp();
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}
