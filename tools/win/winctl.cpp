// winctl.exe: does to the program's windows what a user or the system would,
// one verb a run (the table VERBS below). Waits give up after 20 s with
// exit code 1; an unknown verb lists them all and exits 2.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "res/resource.h"
#include "shared/texts.h"

namespace {
const char DIALOG_CLASS[] = "#32770";  // dialogs and message boxes

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

double msSince(LONGLONG start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return (double)(now.QuadPart - start) * 1000.0 / (double)frequency.QuadPart;
}

LONGLONG now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

// The handles a process holds, from the system's handle table (Wine's
// GetProcessHandleCount answers 0); -1 when the table cannot be read.
struct HandleEntry {
  USHORT processId;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
typedef LONG(WINAPI *QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);
const ULONG SYSTEM_HANDLE_INFORMATION = 16;

long handleCount(DWORD processId) {
  QuerySystemInformation query = (QuerySystemInformation)(void *)GetProcAddress(
      GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
  static char buffer[4 << 20];
  ULONG got = 0;
  if (!query || query(SYSTEM_HANDLE_INFORMATION, buffer, sizeof buffer, &got) != 0) return -1;
  const HandleTable *table = (const HandleTable *)buffer;
  long count = 0;
  for (ULONG i = 0; i < table->count; i++)
    if (table->entries[i].processId == (USHORT)processId) count++;
  return count;
}

HWND mainWindow() { return waitFor(MAIN_CLASS_NAME, nullptr); }

int closeMain(int, char **) {
  HWND main = mainWindow();
  return main && PostMessageA(main, WM_CLOSE, 0, 0) ? 0 : 1;
}

// Posts the close request and waits (up to 60 s) for the window to go.
int timeClose(int, char **) {
  HWND main = mainWindow();
  if (!main) return 1;
  LONGLONG start = now();
  if (!PostMessageA(main, WM_CLOSE, 0, 0)) return 1;
  while (IsWindow(main) && msSince(start) < 60000) Sleep(2);
  printf("closed in %.0f ms\n", msSince(start));
  return IsWindow(main) ? 1 : 0;
}

// A sent message is taken only when the program's thread is back in its
// message loop: this is how long a close request would wait.
int ping(int, char **) {
  HWND main = mainWindow();
  if (!main) return 1;
  LONGLONG start = now();
  DWORD_PTR result;
  if (!SendMessageTimeoutA(main, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result)) return 1;
  printf("answered in %.0f ms\n", msSince(start));
  return 0;
}

int handles(int, char **) {
  HWND main = mainWindow();
  if (!main) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(main, &processId);
  long count = handleCount(processId);
  if (count < 0) return 1;
  printf("%ld\n", count);
  return 0;
}

int endSession(bool timed) {
  HWND main = mainWindow();
  if (!main) return 1;
  LONGLONG start = now();
  long answer = (long)SendMessageA(main, WM_QUERYENDSESSION, 0, 0);
  if (timed)
    printf("answered %ld in %.0f ms\n", answer, msSince(start));
  else
    printf("%ld\n", answer);
  return 0;
}
int endSessionPlain(int, char **) { return endSession(false); }
int endSessionTimed(int, char **) { return endSession(true); }

int restore(int, char **) {
  HWND main = mainWindow();
  if (!main) return 1;
  PostMessageA(main, WM_SYSCOMMAND, SC_RESTORE, 0);
  Sleep(700);
  printf("%s\n", IsIconic(main) ? "iconic" : "restored");
  return 0;
}

int noticeOk(int, char **) {
  HWND notice = waitFor(DIALOG_CLASS, MAIN_WINDOW_TITLE);
  return notice && PostMessageA(notice, WM_COMMAND, IDOK, 0) ? 0 : 1;
}

int noticeText(int, char **) {
  HWND notice = waitFor(DIALOG_CLASS, MAIN_WINDOW_TITLE);
  if (!notice) return 1;
  char text[512], countdown[32];
  GetDlgItemTextA(notice, IDC_NOTICE_TEXT, text, sizeof text);
  GetDlgItemTextA(notice, IDC_NOTICE_COUNTDOWN, countdown, sizeof countdown);
  printf("%s\n[%s]\n", text, countdown);
  return 0;
}

int messageBox(int, char **) {
  HWND box = waitFor(DIALOG_CLASS, ERROR_BOX_TITLE);
  if (!box) return 1;
  EnumChildWindows(box, printStatic, 0);
  return PostMessageA(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
}

int focus(int argc, char **argv) {
  if (argc < 3) return 2;
  HWND window = waitFor(nullptr, argv[2]);
  return window && SetForegroundWindow(window) ? 0 : 1;
}

struct Verb {
  const char *name;
  int (*action)(int argc, char **argv);
  const char *help;
};

const Verb VERBS[] = {
    {"close", closeMain, "post WM_CLOSE to the main window"},
    {"time-close", timeClose, "post WM_CLOSE; print how long until the window is gone"},
    {"ping", ping, "send WM_NULL; print how long the program took to take it"},
    {"handles", handles, "print the program's process handle count"},
    {"endsession", endSessionPlain, "send WM_QUERYENDSESSION, print the answer"},
    {"time-endsession", endSessionTimed, "the same, and how long the program took to answer"},
    {"restore", restore, "ask for a restore as the task bar does; print restored or iconic"},
    {"notice-ok", noticeOk, "wait for the start-up notice and press its OK button"},
    {"notice-text", noticeText, "wait for the notice; print its text and its countdown text"},
    {"msgbox", messageBox, "wait for a message box; print its text and press OK"},
    {"focus", focus, "focus TITLE: make the window with this title the foreground window"},
};

int run(int argc, char **argv) {
  for (const Verb &verb : VERBS)
    if (argc > 1 && !strcmp(argv[1], verb.name)) return verb.action(argc, argv);
  fprintf(stderr, "usage: winctl VERB\n");
  for (const Verb &verb : VERBS) fprintf(stderr, "  %-16s %s\n", verb.name, verb.help);
  return 2;
}
}  // namespace

int main(int argc, char **argv) {
  int code = run(argc, argv);
  fflush(stdout);
  return code;
}
