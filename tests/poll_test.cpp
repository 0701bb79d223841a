#include <algorithm>
#include <random>

#include "fixture.h"
#include "link/poll.h"

namespace {

using sim::down;
using sim::up;

class PollTest : public ProgramTest {
 protected:
  sim::Port *port = nullptr;
  void SetUp() override {
    ProgramTest::SetUp();
    port = &openCom1();
  }
  void send(std::initializer_list<BYTE> bytes) { sim::deviceSends(1, bytes); }
};

TEST_F(PollTest, IdleLineCostsOneReadAndSendsNothing) {
  pollLink();
  EXPECT_EQ(port->reads, 1);
  EXPECT_TRUE(port->output.empty());
  EXPECT_TRUE(sim::keyEvents().empty());
}

// A keystroke is pressed, released and acknowledged; the system form (90)
// does exactly the same.
TEST_F(PollTest, KeystrokeAndSysKeystrokeArePressedReleasedAndAcknowledged) {
  send({0x84, 0x1E, 0x41, 0x90, 0x1E, 0x41});
  pollLink();
  pollLink();
  EXPECT_EQ(sim::keyEvents(),
            (Events{down(0x41, 0x1E), up(0x41, 0x1E), down(0x41, 0x1E), up(0x41, 0x1E)}));
  EXPECT_EQ(port->output, (Bytes{0xFC, 0xFC}));
}

TEST_F(PollTest, MessageSplitAcrossTicks) {
  send({0x84, 0x1E});
  pollLink();
  EXPECT_TRUE(sim::keyEvents().empty());
  send({0x41});
  pollLink();
  EXPECT_EQ(sim::keyEvents(), (Events{down(0x41, 0x1E), up(0x41, 0x1E)}));
}

TEST_F(PollTest, RepliesComeInArrivalOrder) {
  toggledByUser(VK_CAPITAL);
  send({0xCC, 0xD4, 0x84, 0x1E, 0x41, 0xD4});
  pollLink();
  // Query reply, identity, then the keystroke's FC; the last D4 waits.
  EXPECT_EQ(port->output, (Bytes{0x88, 0x00, 0x40, 0x98, 0x02, 0x22, 0xFC}));
  EXPECT_EQ(port->input.size(), 1u);
}

TEST_F(PollTest, ModifierRequestsInsideKeystrokeStream) {
  send({0x88, 0x00, 0x04, 0x84, 0x2E, 0x43, 0x88, 0x00, 0x00});
  pollLink();
  EXPECT_EQ(sim::keyEvents(), (Events{keyDown(VK_CONTROL), down(0x43, 0x2E), up(0x43, 0x2E)}));
  pollLink();
  EXPECT_EQ(sim::keyEvents().back(), keyUp(VK_CONTROL));
  EXPECT_EQ(port->output, Bytes{0xFC});
}

TEST_F(PollTest, UnusedCommandsDoNothing) {
  send({0xFC, 0xD8, 0x80, 0x01, 0x02, 0xE8, 0xBC, 0x00, 0x00});
  pollLink();
  EXPECT_TRUE(port->output.empty());
  EXPECT_TRUE(sim::keyEvents().empty());
  EXPECT_TRUE(port->input.empty());
}

TEST_F(PollTest, ReadsOnlyWhatWaitsAsTheCycleBegins) {
  // A device that never stops sending: a close request must still get its
  // turn, so bytes that arrive during a cycle wait for the next one.
  send({0xD4, 0xD4, 0xD4});
  port->arriving.assign(1000, 0xD4);
  pollLink();
  EXPECT_EQ(port->output.size(), 3u * 3);
  EXPECT_EQ(port->reads, 3);
  pollLink();
  EXPECT_EQ(port->output.size(), 6u * 3) << "the next cycle takes what arrived meanwhile";
}

// Queries flooding in faster than the line can carry their answers back
// (each three-byte answer takes 3.4 ms at 9600 baud): a cycle that answered
// everything waiting would hold the thread for seconds. Whether the driver
// queues what is written or makes each write wait for the line, each cycle
// stops after about a tick, and every query is answered, in order, over the
// following cycles.
TEST_F(PollTest, FloodAtTheLinesPaceIsAnsweredATickAtATime) {
  struct Row {
    const char *driver;
    bool writesWaitForLine;
  };
  for (const Row &row :
       {Row{"a 1024-byte output queue", false}, Row{"writes wait for the line", true}}) {
    SCOPED_TRACE(row.driver);
    SetUp();
    port->writesWaitForLine = row.writesWaitForLine;
    const int MESSAGES = 3000;
    Bytes expected;
    for (int i = 0; i < MESSAGES; i++) {
      bool query = i % 2 == 0;
      sim::deviceSends(1, {query ? (BYTE)0xCC : (BYTE)0xD4});
      Bytes answer = query ? Bytes{0x88, 0x00, 0x00} : Bytes{0x98, 0x02, 0x22};
      expected.insert(expected.end(), answer.begin(), answer.end());
    }
    int cycles = 0;
    while (!port->input.empty() && cycles < 1000) {
      DWORD began = GetTickCount();
      pollLink();
      cycles++;
      // A tick, the last answer's wait for the line, and the clock's rounding.
      DWORD took = GetTickCount() - began;
      ASSERT_LE(took, 200u + 4 + 1) << "cycle " << cycles;
      // The next tick: 200 ms after this one began, or at once when it is due.
      sim::advanceClock(took < 200 ? 200 - took : 1);
    }
    EXPECT_GT(cycles, 20) << "the flood outlasts many ticks";
    EXPECT_EQ(port->output, expected);
    if (!row.writesWaitForLine) {
      EXPECT_LT(port->writesWaitedUs, 20000u) << "writes wait only for what the count missed";
    }
  }
}

TEST_F(PollTest, MessageBegunInTheCycleIsCompleted) {
  send({0x84, 0x1E});
  port->arriving = {0x41, 0xD4};
  pollLink();
  EXPECT_EQ(sim::keyEvents(), (Events{down(0x41, 0x1E), up(0x41, 0x1E)}));
  EXPECT_EQ(port->output, Bytes{0xFC});
  EXPECT_EQ(port->input, std::deque<BYTE>{0xD4}) << "left for the next cycle";
}

// Requests handled in one cycle, before the thread has taken the key
// messages of the earlier ones: each leaves the keys as it says, and a query
// after them answers what they set.
TEST_F(PollTest, RequestsInOneCycleStayAbsolute) {
  struct Row {
    const char *what;
    int toggledOn;  // lock key on before the cycle, or 0
    Bytes stream;
    Events expected;
    Bytes reply;
    ModifierFlags after;
  };
  const Row rows[] = {
      {"Caps on twice",
       0,
       {0x88, 0x00, 0x40, 0x88, 0x00, 0x40},
       {keyDown(VK_CAPITAL), keyUp(VK_CAPITAL)},
       {},
       0x40},
      {"all off twice, Caps on",
       VK_CAPITAL,
       {0x88, 0x00, 0x00, 0x88, 0x00, 0x00},
       {keyDown(VK_CAPITAL), keyUp(VK_CAPITAL)},
       {},
       0x00},
      {"Num on twice",
       0,
       {0x88, 0x00, 0x20, 0x88, 0x00, 0x20},
       {keyDown(VK_NUMLOCK), keyUp(VK_NUMLOCK)},
       {},
       0x20},
      {"Caps on, then off",
       0,
       {0x88, 0x00, 0x40, 0x88, 0x00, 0x00},
       {keyDown(VK_CAPITAL), keyUp(VK_CAPITAL), keyDown(VK_CAPITAL), keyUp(VK_CAPITAL)},
       {},
       0x00},
      {"Caps and Ctrl, then query",
       0,
       {0x88, 0x00, 0x44, 0xCC},
       {keyDown(VK_CAPITAL), keyUp(VK_CAPITAL), keyDown(VK_CONTROL)},
       {0x88, 0x00, 0x44},
       0x44},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    if (row.toggledOn) toggledByUser(row.toggledOn);
    port->input.assign(row.stream.begin(), row.stream.end());
    pollLink();
    EXPECT_EQ(sim::keyEvents(), row.expected);
    EXPECT_EQ(port->output, row.reply);
    sim::takeKeyMessages();
    EXPECT_EQ(readModifierFlags(), row.after);
  }
}

TEST_F(PollTest, NextCycleReadsTheThreadsKeyStateAgain) {
  send({0x88, 0x00, 0x40});
  pollLink();
  sim::takeKeyMessages();
  toggledByUser(VK_CAPITAL);  // the user switches Caps Lock off
  send({0xCC});
  pollLink();
  EXPECT_EQ(port->output, (Bytes{0x88, 0x00, 0x00}));
}

// The adapter is unplugged and put back: the port is closed at the failure,
// tried again once a second, and polled as new once it opens.
TEST_F(PollTest, UnpluggedAdapterIsReopened) {
  send({0x88, 0x00, 0x04, 0x84, 0x1E});  // Ctrl held; a keystroke half sent
  pollLink();
  sim::unplug(1);
  pollLink();
  EXPECT_FALSE(port->open) << "closed at the failure";
  EXPECT_EQ(sim::keyEvents().back(), keyUp(VK_CONTROL)) << "the gone device's Ctrl released";

  auto attempts = [] { return sim::openAttempts().size(); };
  size_t before = attempts();
  sim::advanceClock(999);
  pollLink();
  EXPECT_EQ(attempts(), before) << "no attempt within the second";
  sim::advanceClock(1);
  pollLink();
  EXPECT_EQ(attempts(), before + 1);
  pollLink();
  EXPECT_EQ(attempts(), before + 1) << "one attempt a second";

  sim::plugIn(1);
  port->dcb = DCB();
  port->timeouts = COMMTIMEOUTS();
  sim::advanceClock(1000);  // across the tick count's wrap
  pollLink();
  ASSERT_TRUE(port->open);
  EXPECT_EQ(sim::openAttempts().back(), "COM1");
  EXPECT_EQ(port->dcb.BaudRate, 9600u) << "set up again";
  EXPECT_EQ(port->timeouts.ReadIntervalTimeout, 25u);

  sim::clearKeyEvents();
  send({0x84, 0x2E, 0x43});
  pollLink();
  EXPECT_EQ(sim::keyEvents(), (Events{down(0x43, 0x2E), up(0x43, 0x2E)}))
      << "the half message from before is forgotten";
  EXPECT_EQ(port->output, Bytes{0xFC});
  EXPECT_TRUE(sim::windows().messageBoxes.empty());
}

TEST_F(PollTest, PortThatCannotBeSetUpIsClosedAndTriedAgain) {
  sim::unplug(1);
  pollLink();
  sim::plugIn(1);
  port->failing = sim::SetupStep::SetCommState;
  sim::advanceClock(1000);
  pollLink();
  EXPECT_FALSE(port->open);
  port->failing = sim::SetupStep::None;
  sim::advanceClock(1000);
  pollLink();
  EXPECT_TRUE(port->open);
}

// Between ticks the key monitor writes: its write is the first call to fail.
TEST_F(PollTest, FailedWriteDropsThePort) {
  sim::unplug(1);
  sendMessage(CMD_KEY_DONE, false, 0, 0);
  EXPECT_FALSE(port->open);
  EXPECT_TRUE(port->output.empty());
}

// Random streams, heavy in headers and one-byte forms: whatever arrives, the
// buffer's count stays in range, every keystroke is acknowledged, and every
// reply is a well-formed message.
TEST_F(PollTest, RandomStreamsStayInBoundsAndConsistent) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 400; round++) {
    SetUp();
    std::uniform_int_distribution<int> length(0, 64), byte(0, 255);
    for (int i = length(random); i > 0; i--) {
      int b = byte(random);
      if (i % 3 == 0) b |= 0xC0;  // many one-byte headers
      sim::deviceSends(1, {(BYTE)b});
    }
    for (int tick = 0; tick < 80 && !port->input.empty(); tick++) {
      size_t acknowledged = std::count(port->output.begin(), port->output.end(), 0xFC);
      pollLink();
      ASSERT_GE(receiveBuffer.count, 0);
      ASSERT_LE(receiveBuffer.count, 2);
      sim::takeKeyMessages();
      ASSERT_LE(std::count(port->output.begin(), port->output.end(), 0xFC) - acknowledged, 1);
    }
    ASSERT_TRUE(port->input.empty());
    size_t i = 0, done = 0;
    for (; i < port->output.size(); i++) {
      BYTE header = port->output[i];
      ASSERT_TRUE(header & 0x80);
      if (header == 0xFC) {
        done++;
        continue;
      }
      ASSERT_TRUE(header == 0x98 || (header & 0xFC) == 0x88) << (int)header;
      ASSERT_LE(i + 2, port->output.size() - 1);
      ASSERT_FALSE(port->output[i + 1] & 0x80);
      ASSERT_FALSE(port->output[i + 2] & 0x80);
      i += 2;
    }
    size_t keyDowns = 0;
    for (const sim::KeyEvent &e : sim::keyEvents()) keyDowns += e.flags == 0 ? 1 : 0;
    ASSERT_LE(done, keyDowns);
  }
}

}  // namespace
