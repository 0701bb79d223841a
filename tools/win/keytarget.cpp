// keytarget.exe LOGFILE: a window that takes the keyboard focus and records
// every key message it receives, one line each, with the time it arrived:
//   <microseconds> KEYDOWN vk=41 scan=1E
// It writes READY only once it holds both the foreground and the keyboard
// focus, and NOFOCUS (exit code 3) when it cannot get them; losing the focus
// later is logged as LOSTFOCUS, so that a test can tell a key that went
// elsewhere from a key that was never sent. It also shows the characters it
// has received, for a person looking on.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {
FILE *logFile;
char typed[4096];
size_t typedLength;
LARGE_INTEGER frequency;

// Microseconds on the performance counter; under Wine this is the host's
// monotonic clock, so the device side can compare its own times with it.
long long nowMicroseconds() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart / (frequency.QuadPart / 1000000);
}

// The title of a window, or what stands in for one, for the log.
void describeWindow(HWND window, char *text, int size) {
  if (!window) {
    lstrcpynA(text, "(none)", size);
  } else if (GetWindowTextA(window, text, size) == 0) {
    lstrcpynA(text, "(untitled)", size);
  }
}

void recordFocusEvent(const char *what, HWND other) {
  char title[128];
  describeWindow(other, title, sizeof title);
  fprintf(logFile, "%lld %s \"%s\"\n", nowMicroseconds(), what, title);
  fflush(logFile);
}

bool holdsFocus(HWND window) { return GetForegroundWindow() == window && GetFocus() == window; }

// Asks for the foreground and the focus a few times, taking the activation
// messages in between; under Wine without a window manager the request is
// granted, but only once those messages have been handled.
bool takeFocus(HWND window) {
  const int ATTEMPTS = 20, PAUSE_MS = 100;
  for (int i = 0; i < ATTEMPTS && !holdsFocus(window); i++) {
    SetForegroundWindow(window);
    SetFocus(window);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (!holdsFocus(window)) Sleep(PAUSE_MS);
  }
  return holdsFocus(window);
}

void record(const char *what, WPARAM wParam, LPARAM lParam) {
  fprintf(logFile, "%lld %s vk=%02X scan=%02X\n", nowMicroseconds(), what,
          (unsigned)(wParam & 0xFF), (unsigned)((lParam >> 16) & 0xFF));
  fflush(logFile);
}

LRESULT CALLBACK targetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN: record("KEYDOWN", wParam, lParam); return 0;
    case WM_KEYUP: record("KEYUP", wParam, lParam); return 0;
    case WM_SYSKEYDOWN: record("SYSKEYDOWN", wParam, lParam); return 0;
    case WM_SYSKEYUP: record("SYSKEYUP", wParam, lParam); return 0;
    case WM_KILLFOCUS:
      // A window of another program is not named in wParam; by now it is the
      // foreground window.
      recordFocusEvent("LOSTFOCUS", wParam ? (HWND)wParam : GetForegroundWindow());
      return 0;
    case WM_CHAR:
      fprintf(logFile, "%lld CHAR %02X\n", nowMicroseconds(), (unsigned)(wParam & 0xFF));
      fflush(logFile);
      if (wParam == '\b' && typedLength > 0)
        typedLength--;
      else if (wParam >= ' ' || wParam == '\r') {
        if (typedLength + 2 < sizeof typed) typed[typedLength++] = (char)wParam;
        if (wParam == '\r' && typedLength + 2 < sizeof typed) typed[typedLength++] = '\n';
      }
      typed[typedLength] = 0;
      InvalidateRect(window, nullptr, TRUE);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT area;
      GetClientRect(window, &area);
      InflateRect(&area, -10, -10);
      SetBkMode(dc, TRANSPARENT);
      DrawTextA(dc, typedLength ? typed : "(keys typed here appear here)", -1, &area, DT_WORDBREAK);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
  }
}
}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  logFile = fopen(commandLine && *commandLine ? commandLine : "keytarget.log", "w");
  if (!logFile) return 1;
  QueryPerformanceFrequency(&frequency);

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = targetProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = "TallKeyTarget";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "TallKeyTarget", "Key target", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                40, 40, 420, 220, nullptr, nullptr, instance, nullptr);
  if (!window) return 2;
  if (!takeFocus(window)) {
    recordFocusEvent("NOFOCUS, the foreground is", GetForegroundWindow());
    return 3;
  }
  fprintf(logFile, "%lld READY\n", nowMicroseconds());
  fflush(logFile);

  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  fclose(logFile);
  return 0;
}
