#include "app/startup.h"

#include "app/main_window.h"
#include "app/notice.h"
#include "port/port.h"
#include "res/resource.h"
#include "shared/state.h"

namespace {
const char MAIN_CLASS[] = "QELMO32";
const UINT_PTR POLL_TIMER = 1;
const UINT POLL_INTERVAL_MS = 200;
}  // namespace

bool registerMainClass() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = mainWindowProc;
  windowClass.hInstance = appInstance;
  windowClass.hIcon = LoadIconA(appInstance, "QELMO");
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = (HBRUSH)(uintptr_t)(COLOR_WINDOW + 1);
  windowClass.lpszClassName = MAIN_CLASS;
  return RegisterClassA(&windowClass) == 0;
}

char requestedPortDigit(LPCSTR commandTail) {
  // '0' is skipped like any other character: there is no COM0.
  LPCSTR c = commandTail ? commandTail : "";
  while (*c != '\0' && !(*c >= '1' && *c <= '9')) c++;
  return *c;
}

int runApplication(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  appInstance = instance;

  if (registerMainClass()) {
    reportError("Unable to start TALLIVER (error code 1).");
    return 1;
  }

  // Created hidden: it is shown, minimised, only once the port works.
  mainWindow =
      CreateWindowExA(0, MAIN_CLASS, MAIN_WINDOW_TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                      100, 100, 300, 200, nullptr, nullptr, instance, nullptr);
  if (!mainWindow) {
    reportError("Unable to start TALLIVER (error code 2).");
    return 2;
  }

  LPCSTR name = findPort(requestedPortDigit(commandTail));
  if (!name) {
    reportError("No COM port available to talk to VANTOLE!");
    return 4;
  }
  insertNoticePortDigit(name[3]);
  if (!openPort(name)) return 3;

  // Modal: no poll runs until the notice closes; the device's bytes wait in
  // the port's input queue meanwhile.
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_NOTICE), nullptr, noticeDialogProc, 0);

  pollTimerId = SetTimer(mainWindow, POLL_TIMER, POLL_INTERVAL_MS, nullptr);
  ShowWindow(mainWindow, SW_SHOWMINIMIZED);
  UpdateWindow(mainWindow);

  MSG msg = {};
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  UnregisterClassA(MAIN_CLASS, instance);
  return (int)msg.wParam;
}
