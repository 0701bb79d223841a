// Keyboard: synthesised events go into a log and the async key state at once;
// the thread's key state follows only when the thread takes its key messages.
#include <windows.h>

#include "sim/sim.h"

namespace {
struct KeyState {
  bool down = false;
  bool toggled = false;
};
KeyState asyncState[256];
KeyState threadState[256];
std::vector<sim::KeyEvent> events;  // synthesised, for the tests to read
// Key messages waiting for the thread: synthesised and the user's own, in
// the order they happened.
struct Pending {
  BYTE vk;
  bool down;
};
std::vector<Pending> pending;

// Scan codes of the keys the tests use; 0 for any other, as Windows gives
// for a key with no scan code.
BYTE scanCodeOf(UINT vk) {
  switch (vk) {
    case VK_INSERT: return 0x52;
    case VK_CAPITAL: return 0x3A;
    case VK_NUMLOCK: return 0x45;
    case VK_SCROLL: return 0x46;
    case VK_MENU: return 0x38;
    case VK_CONTROL: return 0x1D;
    case VK_SHIFT: return 0x2A;
    case 'A': return 0x1E;
    case 'C': return 0x2E;
    case VK_F4: return 0x3E;
    default: return 0;
  }
}

bool isLockKey(int vk) {
  return vk == VK_CAPITAL || vk == VK_NUMLOCK || vk == VK_SCROLL || vk == VK_INSERT;
}

void press(KeyState &key, int vk, bool down) {
  // A lock key's toggle flips as it goes down.
  if (down && !key.down && isLockKey(vk)) key.toggled = !key.toggled;
  key.down = down;
}
}  // namespace

namespace sim {
void resetKeyboard() {
  for (int vk = 0; vk < 256; vk++) asyncState[vk] = threadState[vk] = KeyState();
  events.clear();
  pending.clear();
}
const std::vector<KeyEvent> &keyEvents() { return events; }
void clearKeyEvents() {
  takeKeyMessages();
  events.clear();
}
KeyEvent down(BYTE vk, BYTE scan) { return {vk, scan, 0}; }
KeyEvent up(BYTE vk, BYTE scan) { return {vk, scan, KEYEVENTF_KEYUP}; }
void userKey(int vk, bool down) {
  press(asyncState[vk & 0xFF], vk & 0xFF, down);
  pending.push_back({(BYTE)vk, down});
}
void setAsyncKey(int vk, bool down, bool toggled) { asyncState[vk & 0xFF] = {down, toggled}; }
void setThreadKey(int vk, bool down, bool toggled) { threadState[vk & 0xFF] = {down, toggled}; }
void takeKeyMessages() {
  for (const Pending &p : pending) press(threadState[p.vk], p.vk, p.down);
  pending.clear();
}
}  // namespace sim

void WINAPI keybd_event(BYTE vk, BYTE scan, DWORD flags, uintptr_t) {
  bool down = !(flags & KEYEVENTF_KEYUP);
  events.push_back({vk, scan, flags});
  press(asyncState[vk], vk, down);
  pending.push_back({vk, down});
}

// Sign-extended key-state byte: 0xFF80 while down, bit 0 the toggle.
SHORT WINAPI GetKeyState(int vk) {
  const KeyState &key = threadState[vk & 0xFF];
  return (SHORT)((key.down ? 0xFF80 : 0) | (key.toggled ? 1 : 0));
}

SHORT WINAPI GetAsyncKeyState(int vk) { return (SHORT)(asyncState[vk & 0xFF].down ? 0x8000 : 0); }

UINT WINAPI MapVirtualKeyA(UINT code, UINT mapType) {
  return mapType == MAPVK_VK_TO_VSC ? scanCodeOf(code) : 0;
}
