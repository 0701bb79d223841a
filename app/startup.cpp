#include "app/startup.h"

#include "app/main_window.h"
#include "app/notice.h"
#include "port/port.h"
#include "res/resource.h"
#include "shared/report_error.h"
#include "shared/state.h"
#include "shared/texts.h"

namespace {
const UINT_PTR POLL_TIMER = 1;
const UINT POLL_INTERVAL_MS = 200;

enum ExitCode {
  EXIT_NORMAL = 0,
  EXIT_CLASS_NOT_REGISTERED = 1,
  EXIT_WINDOW_NOT_CREATED = 2,
  EXIT_PORT_NOT_SET_UP = 3,
  EXIT_NO_FREE_PORT = 4,
};
}  // namespace

char requestedPortDigit(LPCSTR commandTail) {
  // '0' is skipped like any other character: there is no COM0.
  LPCSTR c = commandTail ? commandTail : "";
  while (*c != '\0' && !(*c >= '1' && *c <= '9')) c++;
  return *c;
}

int runApplication(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  // The instance, for the class, its icon and the notice's template.
  appInstance = instance;

  // The main window's class.
  if (registerMainClass()) {
    reportError(TEXT_CLASS_NOT_REGISTERED);
    return EXIT_CLASS_NOT_REGISTERED;
  }

  // The main window, hidden until the port works.
  mainWindow = createMainWindow();
  if (!mainWindow) {
    reportError(TEXT_WINDOW_NOT_CREATED);
    return EXIT_WINDOW_NOT_CREATED;
  }

  // The port: the one the command tail asks for, else the first free one.
  LPCSTR name = findPort(requestedPortDigit(commandTail));
  if (!name) {
    reportError(TEXT_NO_FREE_PORT);
    return EXIT_NO_FREE_PORT;
  }

  // The notice names it; the port is opened and set up.
  insertNoticePortDigit(name[3]);
  if (!openPort(name)) return EXIT_PORT_NOT_SET_UP;

  // The notice, modal: no poll runs until it closes, and the device's
  // bytes wait in the port's input queue meanwhile.
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_NOTICE), nullptr, noticeDialogProc, 0);

  // Polling starts, and the window shows on the task bar.
  pollTimerId = SetTimer(mainWindow, POLL_TIMER, POLL_INTERVAL_MS, nullptr);
  ShowWindow(mainWindow, SW_SHOWMINIMIZED);
  UpdateWindow(mainWindow);

  // The message loop, until the quit message (0). With no window filter
  // GetMessageA cannot fail (-1); should it, the program ends as if closed
  // rather than spin on the error.
  MSG msg = {};
  BOOL got;
  while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  // The class goes; the quit message carries the exit code.
  UnregisterClassA(MAIN_CLASS_NAME, instance);
  return got == 0 ? (int)msg.wParam : EXIT_NORMAL;
}
