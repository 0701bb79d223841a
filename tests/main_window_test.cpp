#include "app/main_window.h"
#include "fixture.h"

namespace {

using sim::down;
using sim::up;
typedef std::vector<sim::KeyEvent> Events;

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
  // A key the user presses: the key state changes as the message is taken.
  void type(UINT message, BYTE vk, BYTE scan, bool isDown, bool repeat = false) {
    sim::holdKey(vk, isDown);
    if (isDown && !repeat && (vk == VK_CAPITAL || vk == VK_NUMLOCK))
      sim::setToggled(vk, !(GetKeyState(vk) & 1));
    EXPECT_EQ(send(message, vk, keyData(scan, repeat)), 0);
  }
};

TEST_F(MainWindowTest, TimerRunsOnePollCycle) {
  sim::deviceSends(1, {0x84, 0x1E, 0x41, 0xD4});
  EXPECT_EQ(send(WM_TIMER, 7), 0);
  EXPECT_EQ(port->output, Bytes{0xFC});
}

TEST_F(MainWindowTest, RestoreOnlyWithShiftDown) {
  EXPECT_EQ(send(WM_QUERYOPEN), 0);
  sim::holdKey(VK_SHIFT, true);
  EXPECT_EQ(send(WM_QUERYOPEN), TRUE);
  EXPECT_EQ(sim::windows().defaultProcessed, std::vector<UINT>{WM_QUERYOPEN});
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
  sim::deviceSends(1, {0x88, 0x00, 0x04});  // and lets Alt go again
  send(WM_TIMER, 1);
  sim::holdKey(VK_SHIFT, true);  // the user's own Shift is not touched
  send(WM_CLOSE);
  Events expected = {down(VK_MENU, 0x38), down(VK_CONTROL, 0x1D), up(VK_MENU, 0x38),
                     up(VK_CONTROL, 0x1D)};
  EXPECT_EQ(sim::keyEvents(), expected);
}

TEST_F(MainWindowTest, PaintsMonitorTextInsideMargin) {
  EXPECT_EQ(send(WM_PAINT), 0);
  sim::Windows &w = sim::windows();
  EXPECT_EQ(w.drawnText,
            "Typing characters into this window causes them to be sent out the COM port in the "
            "TALLIVER format.\r\n\nThis can be used to determine which data to send in order "
            "to emulate keys.");
  EXPECT_EQ(w.bkMode, TRANSPARENT);
  EXPECT_EQ(w.drawFormat, (UINT)DT_WORDBREAK);
  RECT r = w.drawnRect, c = w.clientRect;
  EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right, r.bottom}),
            std::vector<LONG>({c.left + 20, c.top + 20, c.right - 20, c.bottom - 20}));
}

TEST_F(MainWindowTest, MonitorSendsTypedKeys) {
  type(WM_KEYDOWN, 'A', 0x1E, true);
  type(WM_KEYDOWN, 'A', 0x1E, true, true);  // auto-repeat
  type(WM_KEYUP, 'A', 0x1E, false);
  EXPECT_EQ(port->output, (Bytes{0x84, 0x1E, 0x41}));
}

TEST_F(MainWindowTest, MonitorSendsAltF4AsSystemKeys) {
  type(WM_SYSKEYDOWN, VK_MENU, 0x38, true);
  type(WM_SYSKEYDOWN, VK_F4, 0x3E, true);
  type(WM_SYSKEYUP, VK_F4, 0x3E, false);
  type(WM_KEYUP, VK_MENU, 0x38, false);
  EXPECT_EQ(port->output,
            (Bytes{0x88, 0x00, 0x08, 0x90, 0x38, 0x12, 0x90, 0x3E, 0x73, 0x88, 0x00, 0x00}));
  EXPECT_TRUE(sim::windows().defaultProcessed.empty()) << "Alt+F4 must not reach the window";
}

TEST_F(MainWindowTest, MonitorReportsModifierChanges) {
  sim::setToggled(VK_CAPITAL, true);
  type(WM_KEYDOWN, 'A', 0x1E, true);
  type(WM_KEYDOWN, VK_SHIFT, 0x2A, true);
  type(WM_KEYUP, VK_SHIFT, 0x2A, false);
  type(WM_KEYDOWN, VK_CAPITAL, 0x3A, true);
  type(WM_KEYUP, VK_CAPITAL, 0x3A, false);
  EXPECT_EQ(port->output, (Bytes{0x88, 0x00, 0x40, 0x84, 0x1E, 0x41,     // Caps on, A
                                 0x88, 0x00, 0x43, 0x84, 0x2A, 0x10,     // Shift down
                                 0x88, 0x00, 0x40,                       // Shift up
                                 0x88, 0x00, 0x00, 0x84, 0x3A, 0x14}));  // Caps off
}

TEST_F(MainWindowTest, OtherMessagesGoToDefaultProcessing) {
  send(WM_CHAR, 'a');
  send(WM_COMMAND, 1);
  EXPECT_EQ(sim::windows().defaultProcessed, (std::vector<UINT>{WM_CHAR, WM_COMMAND}));
  EXPECT_TRUE(port->output.empty());
}

}  // namespace
