// winctl.exe: does to the program's windows what a user or the system would.
//   close             post WM_CLOSE to the main window
//   endsession        send WM_QUERYENDSESSION, print the answer
//   restore           ask for a restore as the task bar does; print "restored" or "iconic"
//   notice-ok         wait for the start-up notice and press its OK button
//   notice-text       wait for the notice; print its text and its countdown text
//   msgbox            wait for a message box; print its text and press OK
//   focus TITLE       make the window with this title the foreground window
// Waits give up after 20 s with exit code 1.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {
const char MAIN_CLASS[] = "QELMO32";
const char NOTICE_TITLE[] = "Ostrel TALLIVER for Windows95/NT";
const char BOX_TITLE[] = "TALLIVER for Windows 95";
const char DIALOG_CLASS[] = "#32770";

HWND waitFor(const char *className, const char *title) {
  for (int i = 0; i < 400; i++) {
    HWND window = FindWindowA(className, title);
    if (window) return window;
    Sleep(50);
  }
  fprintf(stderr, "winctl: no window %s \"%s\"\n", className ? className : "*",
          title ? title : "*");
  return nullptr;
}

BOOL CALLBACK printStatic(HWND child, LPARAM) {
  char className[32], text[512];
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
    printf("%s\n", text);
  return TRUE;
}

int run(int argc, char **argv) {
  if (argc < 2) return 2;
  const char *verb = argv[1];
  if (!strcmp(verb, "close") || !strcmp(verb, "endsession") || !strcmp(verb, "restore")) {
    HWND main = waitFor(MAIN_CLASS, nullptr);
    if (!main) return 1;
    if (!strcmp(verb, "close")) return PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
    if (!strcmp(verb, "endsession")) {
      printf("%ld\n", (long)SendMessageA(main, WM_QUERYENDSESSION, 0, 0));
      return 0;
    }
    PostMessageA(main, WM_SYSCOMMAND, SC_RESTORE, 0);
    Sleep(700);
    printf("%s\n", IsIconic(main) ? "iconic" : "restored");
    return 0;
  }
  if (!strcmp(verb, "notice-ok") || !strcmp(verb, "notice-text")) {
    HWND notice = waitFor(DIALOG_CLASS, NOTICE_TITLE);
    if (!notice) return 1;
    if (!strcmp(verb, "notice-ok")) return PostMessageA(notice, WM_COMMAND, IDOK, 0) ? 0 : 1;
    char text[512], countdown[32];
    GetDlgItemTextA(notice, 401, text, sizeof text);
    GetDlgItemTextA(notice, 402, countdown, sizeof countdown);
    printf("%s\n[%s]\n", text, countdown);
    return 0;
  }
  if (!strcmp(verb, "msgbox")) {
    HWND box = waitFor(DIALOG_CLASS, BOX_TITLE);
    if (!box) return 1;
    EnumChildWindows(box, printStatic, 0);
    return PostMessageA(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
  }
  if (!strcmp(verb, "focus") && argc > 2) {
    HWND window = waitFor(nullptr, argv[2]);
    return window && SetForegroundWindow(window) ? 0 : 1;
  }
  return 2;
}
}  // namespace

int main(int argc, char **argv) {
  int code = run(argc, argv);
  fflush(stdout);
  return code;
}
