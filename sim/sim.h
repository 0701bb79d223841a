// Control and inspection of the simulated platform, for tests and tools.
// The program itself never includes this file.
#pragma once

#include <windows.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Resets every part of the simulated platform to a machine with no ports,
// no keys down and no windows.
void reset();

// ---- Keyboard -------------------------------------------------------------
struct KeyEvent {
  BYTE vk;
  BYTE scan;
  DWORD flags;
  bool operator==(const KeyEvent &o) const {
    return vk == o.vk && scan == o.scan && flags == o.flags;
  }
};
KeyEvent down(BYTE vk, BYTE scan);
KeyEvent up(BYTE vk, BYTE scan);

// Every keybd_event call, in order, and forgetting them (messages for the
// forgotten events are taken at once).
const std::vector<KeyEvent> &keyEvents();
void clearKeyEvents();
// A key the user presses or releases: the asynchronous state changes at
// once, the thread's key state only when the thread takes its messages. A
// lock key's toggle flips on its key-down.
void userKey(int vk, bool down);
// Either state source set alone, for cases where the two disagree.
void setAsyncKey(int vk, bool down, bool toggled = false);
void setThreadKey(int vk, bool down, bool toggled = false);
// The thread takes its pending key messages from the queue, which brings its
// key state (GetKeyState) up to date with every key event so far.
void takeKeyMessages();

// ---- Serial ports COM1..COM9 ------------------------------------------------
enum class PortKind { Absent, Busy, Free };
enum class SetupStep { None, SetupComm, GetCommState, SetCommState, SetCommTimeouts };
struct Port {
  PortKind kind = PortKind::Absent;
  SetupStep failing = SetupStep::None;  // this set-up call fails
  DCB dcb = {};                         // what GetCommState reports
  COMMTIMEOUTS timeouts = {};
  DWORD inQueue = 0, outQueue = 0;
  bool open = false;
  // The adapter was unplugged: every call on a handle to it fails, and the
  // port cannot be opened until it is plugged in again.
  bool unplugged = false;
  std::deque<BYTE> input;  // bytes the device has sent
  // Bytes the device sends while the program reads: one joins the input
  // after each ReadFile call, as from a device that streams without pause.
  std::deque<BYTE> arriving;
  std::vector<BYTE> output;  // bytes the program has written
  // When the line will have sent the last byte written, in simulated time:
  // the output queue drains at 9600 8O1's pace, and a write waits while the
  // queue (outQueue bytes) has no room for it.
  uint64_t lineFreeAtUs = 0;
  // A driver that keeps no output queue of its own: each write returns only
  // once the line has taken the bytes written before it.
  bool writesWaitForLine = false;
  uint64_t writesWaitedUs = 0;  // all writes' waits together
  int reads = 0;                // ReadFile calls
  int writes = 0;               // WriteFile calls
};
Port &port(int number);
// Every name CreateFileA was asked to open, in order.
std::vector<std::string> &openAttempts();
// Bytes the device sends on the port the program has open.
void deviceSends(int number, std::initializer_list<BYTE> bytes);
// A USB adapter pulled out and put back. A handle the program still holds
// from before stays unusable; the port must be opened again.
void unplug(int number);
void plugIn(int number);

// ---- Clock ------------------------------------------------------------------
// Simulated time. It moves when a test advances it, when a read waits out its
// time-out on an empty line, and when a write waits for room in the output
// queue. GetTickCount reports it in milliseconds, starting a few seconds
// before the counter wraps, as on a machine that has run for 49.7 days.
void advanceClock(DWORD ms);
uint64_t clockUs();
void advanceClockUs(uint64_t us);

// ---- Windows, dialogs, timers, message boxes --------------------------------
struct MessageBox {
  HWND owner;
  std::string text, caption;
  UINT type;
};
struct Timer {
  HWND window;
  UINT_PTR id;
  UINT elapse;
};
struct Windows {
  bool registerFails = false, createFails = false;
  std::string className;
  WNDCLASSA windowClass = {};
  bool classRegistered = false;
  std::string title;
  DWORD style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  bool destroyed = false;
  std::vector<int> showCommands;
  int updates = 0;
  std::vector<MessageBox> messageBoxes;
  std::vector<Timer> timersSet;
  std::map<UINT_PTR, Timer> activeTimers;  // by id
  bool quitPosted = false;
  int quitCode = 0;
  std::deque<MSG> queue;  // posted to the main loop
  // GetMessageA fails (-1) once the queue is empty, instead of bringing the
  // quit message; how many calls failed.
  bool getMessageFails = false;
  int failedCalls = 0;
  // Notice dialog
  int dialogTemplate = 0;
  HWND dialogOwner = nullptr;
  bool dialogFails = false;
  bool dialogEnded = false;
  int dialogTicks = 0;        // timer ticks delivered by the modal loop
  int dialogPressAfter = -1;  // the button is pressed once, after this many ticks
  WPARAM dialogPress = IDOK;
  std::map<int, std::vector<std::string>> dialogTexts;  // item id -> texts set
  // Painting
  int bkMode = 0;
  std::string drawnText;
  RECT drawnRect = {};
  UINT drawFormat = 0;
  RECT clientRect = {0, 0, 294, 173};
  std::vector<UINT> defaultProcessed;  // messages passed to DefWindowProcA
};
Windows &windows();
HWND mainWindowHandle();
HWND dialogHandle();
// Queues a message for the main loop's GetMessageA.
void post(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

}  // namespace sim
