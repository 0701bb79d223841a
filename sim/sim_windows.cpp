// Windows, messages, timers, the modal notice and message boxes, as far as
// the program's own procedures need them.
#include <windows.h>

#include "sim/sim.h"

namespace sim {
void resetKeyboard();
void resetPorts();
}  // namespace sim

namespace {
sim::Windows state;
const DWORD CLOCK_START = 0xFFFFF000;  // 4096 ms before GetTickCount wraps
uint64_t elapsedUs = 0;                // simulated time since the reset
HWND const MAIN_WINDOW = (HWND)(uintptr_t)0x1000;
HWND const DIALOG = (HWND)(uintptr_t)0x2000;
HDC const PAINT_DC = (HDC)(uintptr_t)0x3000;
// A modal loop left alone stops after this many ticks, so a notice that
// never closes fails a test instead of hanging it.
const int MAX_DIALOG_TICKS = 100;
const int MAX_FAILED_CALLS = 100;
}  // namespace

namespace sim {
void reset() {
  resetKeyboard();
  resetPorts();
  state = Windows();
  elapsedUs = 0;
}
void advanceClock(DWORD ms) { elapsedUs += (uint64_t)ms * 1000; }
uint64_t clockUs() { return elapsedUs; }
void advanceClockUs(uint64_t us) { elapsedUs += us; }
Windows &windows() { return state; }
HWND mainWindowHandle() { return MAIN_WINDOW; }
HWND dialogHandle() { return DIALOG; }
void post(UINT message, WPARAM wParam, LPARAM lParam) {
  state.queue.push_back({MAIN_WINDOW, message, wParam, lParam, 0, {0, 0}});
}
}  // namespace sim

ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass) {
  if (state.registerFails || state.classRegistered) return 0;
  state.windowClass = *windowClass;
  state.className = windowClass->lpszClassName;
  state.classRegistered = true;
  return 0xC001;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
  if (!state.classRegistered || state.className != className) return FALSE;
  state.classRegistered = false;
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND, HMENU, HINSTANCE, LPVOID) {
  if (state.createFails || !state.classRegistered || state.className != className) return nullptr;
  state.title = title;
  state.style = style;
  state.x = x, state.y = y, state.width = width, state.height = height;
  return MAIN_WINDOW;
}

BOOL WINAPI ShowWindow(HWND, int command) {
  state.showCommands.push_back(command);
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND) {
  state.updates++;
  return TRUE;
}

BOOL WINAPI DestroyWindow(HWND window) {
  if (window != MAIN_WINDOW || state.destroyed) return FALSE;
  state.destroyed = true;
  return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND, UINT message, WPARAM, LPARAM) {
  state.defaultProcessed.push_back(message);
  return message == WM_QUERYOPEN ? TRUE : 0;  // the default lets a window be restored
}

// The quit message comes once nothing else is queued, as on Windows, or a
// scripted failure. A loop that goes on after -1 gets the quit message after
// a while, so that the fault fails its test instead of hanging it.
BOOL WINAPI GetMessageA(LPMSG msg, HWND, UINT, UINT) {
  if (!state.queue.empty()) {
    *msg = state.queue.front();
    state.queue.pop_front();
    return TRUE;
  }
  if (state.getMessageFails && state.failedCalls++ < MAX_FAILED_CALLS) return -1;
  *msg = MSG{nullptr, WM_QUIT, (WPARAM)state.quitCode, 0, 0, {0, 0}};
  return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG *) { return FALSE; }

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
  if (msg->hwnd != MAIN_WINDOW || state.destroyed) return 0;
  return state.windowClass.lpfnWndProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void WINAPI PostQuitMessage(int exitCode) {
  state.quitPosted = true;
  state.quitCode = exitCode;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC) {
  sim::Timer timer = {window, id, elapse};
  state.timersSet.push_back(timer);
  state.activeTimers[id] = timer;
  return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  auto it = state.activeTimers.find(id);
  if (it == state.activeTimers.end() || it->second.window != window) return FALSE;
  state.activeTimers.erase(it);
  return TRUE;
}

// The modal loop: initialise the dialog, then deliver its timer's ticks (and
// a scripted button press) until the procedure ends the dialog.
INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR templateName, HWND owner, DLGPROC proc,
                               LPARAM initParam) {
  state.dialogTemplate = (int)(uintptr_t)templateName;
  state.dialogOwner = owner;
  if (state.dialogFails) return -1;
  state.dialogEnded = false;
  bool pressed = false;
  proc(DIALOG, WM_INITDIALOG, 0, initParam);
  while (!state.dialogEnded && state.dialogTicks < MAX_DIALOG_TICKS) {
    if (state.dialogTicks == state.dialogPressAfter && !pressed) {
      pressed = true;
      proc(DIALOG, WM_COMMAND, state.dialogPress, 0);
      continue;
    }
    auto timer = state.activeTimers.find(1);
    if (timer == state.activeTimers.end() || timer->second.window != DIALOG) break;
    state.dialogTicks++;
    proc(DIALOG, WM_TIMER, timer->first, 0);
  }
  return 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  if (dialog != DIALOG) return FALSE;
  state.dialogTexts[id].push_back(text);
  return TRUE;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR) {
  if (dialog != DIALOG) return FALSE;
  state.dialogEnded = true;
  return TRUE;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  state.messageBoxes.push_back({owner, text, caption, type});
  return IDOK;
}

HICON WINAPI LoadIconA(HINSTANCE, LPCSTR) { return (HICON)(uintptr_t)0x4000; }
HCURSOR WINAPI LoadCursorA(HINSTANCE, LPCSTR) { return (HCURSOR)(uintptr_t)0x5000; }

HDC WINAPI BeginPaint(HWND, LPPAINTSTRUCT paint) {
  *paint = PAINTSTRUCT();
  paint->hdc = PAINT_DC;
  return PAINT_DC;
}

BOOL WINAPI EndPaint(HWND, const PAINTSTRUCT *) { return TRUE; }

BOOL WINAPI GetClientRect(HWND, LPRECT rect) {
  *rect = state.clientRect;
  return TRUE;
}

BOOL WINAPI InflateRect(LPRECT rect, int dx, int dy) {
  rect->left -= dx, rect->top -= dy, rect->right += dx, rect->bottom += dy;
  return TRUE;
}

int WINAPI DrawTextA(HDC, LPCSTR text, int length, LPRECT rect, UINT format) {
  state.drawnText = length < 0 ? std::string(text) : std::string(text, length);
  state.drawnRect = *rect;
  state.drawFormat = format;
  return 16;
}

int WINAPI SetBkMode(HDC, int mode) {
  int old = state.bkMode;
  state.bkMode = mode;
  return old;
}

DWORD WINAPI GetTickCount() { return CLOCK_START + (DWORD)(elapsedUs / 1000); }
