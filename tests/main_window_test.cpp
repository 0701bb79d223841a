#include "app/main_window.h"
#include "fixture.h"
#include "shared/texts.h"

namespace {

const LPARAM EXTENDED_KEY = 1 << 24;

// lParam of a key message: repeat count 1, the scan code, and the
// previous-state bit for an auto-repeat.
LPARAM keyData(BYTE scan, bool repeat = false) {
  return 1 | (LPARAM)scan << 16 | (repeat ? (LPARAM)1 << 30 : 0);
}

class MainWindowTest : public ProgramTest {
 protected:
  HWND window = sim::mainWindowHandle();
  sim::Port *port = nullptr;
  void SetUp() override {
    ProgramTest::SetUp();
    port = &openCom1();
    mainWindow = window;
  }
  LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return mainWindowProc(window, message, wParam, lParam);
  }
  // A key the user types into the window: its message is handled as the
  // thread takes it, so both state sources show the key by then.
  void typeWithData(UINT message, BYTE vk, LPARAM data) {
    bool isDown = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
    if (!(data & 1 << 30)) sim::userKey(vk, isDown);
    sim::takeKeyMessages();
    EXPECT_EQ(send(message, vk, data), 0);
  }
  void type(UINT message, BYTE vk, BYTE scan) { typeWithData(message, vk, keyData(scan)); }
};

// The guard reads the thread's key state as the request is handled, not the
// asynchronous state: the rows where the two disagree show which.
TEST_F(MainWindowTest, RestoreOnlyWithShiftDownForTheThread) {
  struct Row {
    const char *what;
    bool asyncDown, threadDown, restored;
  };
  const Row rows[] = {
      {"Shift up", false, false, false},
      {"Shift down", true, true, true},
      {"Shift down, its message not yet taken", true, false, false},
      {"Shift released, its key-up not yet taken", false, true, true},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    sim::setAsyncKey(VK_SHIFT, row.asyncDown);
    sim::setThreadKey(VK_SHIFT, row.threadDown);
    EXPECT_EQ(send(WM_QUERYOPEN), row.restored ? TRUE : 0);
    EXPECT_EQ(sim::windows().defaultProcessed.size(), row.restored ? 1u : 0u);
  }
}

TEST_F(MainWindowTest, CloseAndSessionEndShutDown) {
  for (UINT message : {(UINT)WM_CLOSE, (UINT)WM_QUERYENDSESSION}) {
    SCOPED_TRACE(message);
    SetUp();
    pollTimerId = SetTimer(window, 1, 200, nullptr);
    EXPECT_EQ(send(message), 1);
    sim::Windows &w = sim::windows();
    EXPECT_TRUE(w.activeTimers.empty());
    EXPECT_FALSE(port->open);
    EXPECT_TRUE(w.destroyed);
    EXPECT_TRUE(w.quitPosted);
    EXPECT_EQ(w.quitCode, 0);
  }
}

TEST_F(MainWindowTest, ShutdownReleasesModifiersTheDeviceHeld) {
  sim::deviceSends(1, {0x88, 0x00, 0x0C});  // device holds Alt and Ctrl
  send(WM_TIMER, 1);
  sim::takeKeyMessages();
  sim::deviceSends(1, {0x88, 0x00, 0x04});  // and lets Alt go again
  send(WM_TIMER, 1);
  heldByUser(VK_SHIFT);  // the user's own Shift is not touched
  send(WM_CLOSE);
  Events expected = {keyDown(VK_MENU), keyDown(VK_CONTROL), keyUp(VK_MENU), keyUp(VK_CONTROL)};
  EXPECT_EQ(sim::keyEvents(), expected);
}

// Each row is one key-down typed into the monitor with every lock and
// modifier key off: what goes out of the port.
TEST_F(MainWindowTest, MonitorSendsEachKeyDownOnce) {
  struct Row {
    const char *what;
    UINT message;
    BYTE vk;
    LPARAM data;
    Bytes sent;
  };
  const Row rows[] = {
      {"A", WM_KEYDOWN, 'A', keyData(0x1E), {0x84, 0x1E, 0x41}},
      {"an auto-repeat", WM_KEYDOWN, 'A', keyData(0x1E, true), {}},
      {"a system key", WM_SYSKEYDOWN, VK_F4, keyData(0x3E), {0x90, 0x3E, 0x73}},
      {"vk with bit 7", WM_KEYDOWN, 0xBA, keyData(0x27), {0x86, 0x27, 0x3A}},
      {"scan code with bit 7", WM_KEYDOWN, 'A', keyData(0x9E), {0x85, 0x1E, 0x41}},
      {"extended key: the bit is not sent",
       WM_KEYDOWN,
       0x27,
       keyData(0x4D) | EXTENDED_KEY,
       {0x84, 0x4D, 0x27}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    typeWithData(row.message, row.vk, row.data);
    EXPECT_EQ(port->output, row.sent);
    EXPECT_TRUE(sim::windows().defaultProcessed.empty()) << "consumed";
  }
}

TEST_F(MainWindowTest, MonitorSendsAltF4AsSystemKeys) {
  type(WM_SYSKEYDOWN, VK_MENU, 0x38);
  type(WM_SYSKEYDOWN, VK_F4, 0x3E);
  type(WM_SYSKEYUP, VK_F4, 0x3E);
  type(WM_KEYUP, VK_MENU, 0x38);
  EXPECT_EQ(port->output,
            (Bytes{0x88, 0x00, 0x08, 0x90, 0x38, 0x12, 0x90, 0x3E, 0x73, 0x88, 0x00, 0x00}));
  EXPECT_TRUE(sim::windows().defaultProcessed.empty()) << "Alt+F4 must not reach the window";
}

TEST_F(MainWindowTest, MonitorReportsModifierChanges) {
  toggledByUser(VK_CAPITAL);
  type(WM_KEYDOWN, 'A', 0x1E);
  type(WM_KEYUP, 'A', 0x1E);
  type(WM_KEYDOWN, VK_SHIFT, 0x2A);
  type(WM_KEYUP, VK_SHIFT, 0x2A);
  type(WM_KEYDOWN, VK_CAPITAL, 0x3A);
  type(WM_KEYUP, VK_CAPITAL, 0x3A);
  EXPECT_EQ(port->output, (Bytes{0x88, 0x00, 0x40, 0x84, 0x1E, 0x41,     // Caps on, A
                                 0x88, 0x00, 0x43, 0x84, 0x2A, 0x10,     // Shift down
                                 0x88, 0x00, 0x40,                       // Shift up
                                 0x88, 0x00, 0x00, 0x84, 0x3A, 0x14}));  // Caps off
}

}  // namespace
