#include "app/startup.h"
#include "app/main_window.h"
#include "fixture.h"
#include "res/resource.h"
#include "shared/texts.h"

namespace {

class StartupTest : public ProgramTest {
 protected:
  HINSTANCE const instance = (HINSTANCE)(uintptr_t)0x400000;
  int run(const char *tail) {
    std::string copy = tail;
    return runApplication(instance, nullptr, copy.data(), SW_SHOWDEFAULT);
  }
  std::vector<std::string> boxTexts() {
    std::vector<std::string> texts;
    for (auto &box : sim::windows().messageBoxes) texts.push_back(box.text);
    return texts;
  }
};

TEST_F(StartupTest, CommandTailSelectsPort) {
  struct Row {
    const char *tail;
    char digit;
  };
  // The range's ends: '0' and ':' lie either side of '1' to '9' in ASCII.
  const Row rows[] = {{"", 0},      {"3", '3'},  {"COM3", '3'}, {"/3", '3'},   {"port3", '3'},
                      {"x3y", '3'}, {"12", '1'}, {"1", '1'},    {"9", '9'},    {"port9", '9'},
                      {"0", 0},     {":", 0},    {"COM", 0},    {"00 7", '7'}, {"0:9", '9'}};
  for (const Row &row : rows) EXPECT_EQ(requestedPortDigit(row.tail), row.digit) << row.tail;
  EXPECT_EQ(requestedPortDigit(nullptr), 0);
}

TEST_F(StartupTest, RunsUntilClosedThenExitsZero) {
  sim::port(1).kind = sim::PortKind::Free;
  sim::port(2).kind = sim::PortKind::Free;
  sim::deviceSends(2, {0xD4});  // waits in the queue until the first poll
  sim::post(WM_TIMER, 1);
  sim::post(WM_CLOSE);

  EXPECT_EQ(run("COM2"), 0);

  sim::Windows &w = sim::windows();
  EXPECT_EQ(w.windowClass.lpfnWndProc, &mainWindowProc);
  EXPECT_EQ(w.windowClass.hbrBackground, (HBRUSH)(uintptr_t)(COLOR_WINDOW + 1));
  EXPECT_EQ(w.className, MAIN_CLASS_NAME);
  EXPECT_EQ(w.title, MAIN_WINDOW_TITLE);
  EXPECT_EQ(w.style, (DWORD)(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
  EXPECT_EQ(std::vector<int>({w.x, w.y, w.width, w.height}),
            std::vector<int>({100, 100, 300, 200}));
  EXPECT_EQ(w.dialogTemplate, IDD_NOTICE);
  EXPECT_EQ(w.dialogOwner, nullptr);
  EXPECT_EQ(w.dialogTexts[IDC_NOTICE_TEXT].at(0).substr(0, 37),
            "Connect VANTOLE to serial port COM2.\n");
  ASSERT_EQ(w.timersSet.size(), 2u);  // the notice's, then the poll timer
  EXPECT_EQ(w.timersSet[1].window, sim::mainWindowHandle());
  EXPECT_EQ(w.timersSet[1].elapse, 200u);
  EXPECT_EQ(w.showCommands, std::vector<int>{SW_SHOWMINIMIZED});
  EXPECT_EQ(w.updates, 1);
  EXPECT_EQ(sim::port(2).output, (Bytes{0x98, 0x02, 0x22}));
  // Shut down: timer stopped, port closed, window gone, class unregistered.
  EXPECT_TRUE(w.activeTimers.empty());
  EXPECT_FALSE(sim::port(2).open);
  EXPECT_TRUE(w.destroyed);
  EXPECT_FALSE(w.classRegistered);
  EXPECT_TRUE(w.messageBoxes.empty());
}

TEST_F(StartupTest, FailuresEndWithTheirCodeAndMessage) {
  struct Row {
    const char *what;
    bool registerFails, createFails;
    sim::PortKind com1;
    sim::SetupStep failing;
    int code;
    std::vector<std::string> messages;
  };
  const Row rows[] = {
      {"class",
       true,
       false,
       sim::PortKind::Free,
       sim::SetupStep::None,
       1,
       {TEXT_CLASS_NOT_REGISTERED}},
      {"window",
       false,
       true,
       sim::PortKind::Free,
       sim::SetupStep::None,
       2,
       {TEXT_WINDOW_NOT_CREATED}},
      {"no port", false, false, sim::PortKind::Busy, sim::SetupStep::None, 4, {TEXT_NO_FREE_PORT}},
      {"time-outs", false, false, sim::PortKind::Free, sim::SetupStep::SetCommTimeouts, 3, {}},
      {"line",
       false,
       false,
       sim::PortKind::Free,
       sim::SetupStep::SetCommState,
       3,
       {TEXT_LINE_REFUSED}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    sim::windows().registerFails = row.registerFails;
    sim::windows().createFails = row.createFails;
    sim::port(1).kind = row.com1;
    sim::port(1).failing = row.failing;
    EXPECT_EQ(run(""), row.code);
    EXPECT_EQ(boxTexts(), row.messages);
    EXPECT_EQ(sim::windows().dialogTemplate, 0) << "no notice after a failure";
  }
}

TEST_F(StartupTest, FailingMessageLoopEnds) {
  sim::port(1).kind = sim::PortKind::Free;
  sim::windows().getMessageFails = true;
  EXPECT_EQ(run(""), 0);
  EXPECT_EQ(sim::windows().failedCalls, 1) << "the loop must stop at the first -1";
  EXPECT_FALSE(sim::windows().classRegistered);
}

TEST_F(StartupTest, NoticeThatCannotBeShownIsSkipped) {
  sim::port(1).kind = sim::PortKind::Free;
  sim::windows().dialogFails = true;
  sim::post(WM_CLOSE);
  EXPECT_EQ(run(""), 0);
  EXPECT_TRUE(sim::windows().messageBoxes.empty());
}

}  // namespace
