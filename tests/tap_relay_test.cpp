// The tap as a device builder runs it, on pty pairs standing in for the
// device's adapter: a port that behaves as a real one, a relay that never
// stalls, a link handled with care, clear errors, and a record that grades
// the same again. Waits are short and bounded; a relay that stalls fails
// its bound instead of hanging.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tool_process.h"

namespace {

using tool::DevicePort;
using tool::Folder;
using tool::Tool;

// Ctrl+C and SIGTERM end a run within a second; the tests allow more, so
// that a busy machine does not fail them.
const int END_BOUND_MS = 3000;

// Messages a time over: far more bytes than a pty holds (about 20 KB), in
// few enough lines that a slow build keeps up.
std::vector<uint8_t> repeated(std::vector<uint8_t> message, size_t count) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < count; i++) bytes.insert(bytes.end(), message.begin(), message.end());
  return bytes;
}
std::vector<uint8_t> keystrokes(size_t count) { return repeated({0x84, 0x1E, 0x41}, count); }

// A sanitizer build is many times slower: waits for output allow for it.
const int SLOW_BOUND_MS = 10000;

// A tap between a pty standing in for the device and a link in `folder`.
struct TapRun {
  DevicePort device;
  Tool tap;
  std::string link;
  TapRun(const Folder &folder, std::vector<std::string> more = {},
         Tool::Output output = Tool::FILES)
      : tap(folder, args(folder, device.slave, more), output), link(folder / "com1") {
    EXPECT_TRUE(tool::awaitPath(link, 2000));
  }
  static std::vector<std::string> args(const Folder &folder, const std::string &port,
                                       std::vector<std::string> more) {
    std::vector<std::string> a = {"tap", "--port", port, "--link", folder / "com1"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }
};

TEST(TapRelayTest, EarlyBytesAreDroppedAndThePortIsRawFromTheStart) {
  Folder folder;
  TapRun run(folder);
  const std::vector<uint8_t> sent = {0x84, 0x1C, 0x0D, 0x84, 0x03, 0x03,
                                     0x84, 0x13, 0x11, 0x84, 0x2E, 0x43};
  tool::writeSome(run.device.master, sent);
  ASSERT_TRUE(run.tap.awaitOutput("bytes from the device are dropped", 2000));
  int program = tool::openAsProgram(run.link);  // no settings touched
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  EXPECT_TRUE(tool::readFor(program, 100, 1).empty()) << "nothing from before it opened";
  tool::writeSome(run.device.master, sent);
  EXPECT_EQ(tool::readFor(program, 2000, sent.size()), sent)
      << "CR, Ctrl+C and XON/XOFF pass unchanged";
  run.tap.signal(SIGINT);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
  close(program);
  EXPECT_NE(run.tap.output().find("(12 bytes from the device were dropped before)"),
            std::string::npos)
      << run.tap.output();
  EXPECT_NE(run.tap.output().find("tap: bytes dropped: 12 from the device while no program held"),
            std::string::npos);
}

TEST(TapRelayTest, AProgramThatDoesNotReadHoldsUpNeitherDirection) {
  Folder folder;
  TapRun run(folder);
  int program = tool::openAsProgram(run.link);
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  std::vector<uint8_t> flood = repeated({0x88, 0x00, 0x00}, 25000);  // the program never reads
  size_t sent = tool::writeAll(run.device.master, flood, SLOW_BOUND_MS);
  EXPECT_EQ(sent, flood.size()) << "the tap went on reading the device";
  ASSERT_TRUE(run.tap.awaitOutput("the program is not taking bytes", SLOW_BOUND_MS));
  tool::writeSome(program, {0x98, 0x02, 0x22});
  EXPECT_EQ(tool::readFor(run.device.master, 2000, 3), (std::vector<uint8_t>{0x98, 0x02, 0x22}))
      << "the other direction keeps moving";
  run.tap.signal(SIGTERM);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
  std::string out = run.tap.output();
  size_t said = out.find("the program is not taking bytes");
  EXPECT_EQ(out.find("the program is not taking bytes", said + 1), std::string::npos)
      << "said once";
  EXPECT_EQ(out.find(" 0 the program did not take"), std::string::npos) << out;
  EXPECT_FALSE(tool::exists(run.link)) << "the link goes at the end";
  close(program);
}

TEST(TapRelayTest, ADeviceThatDoesNotReadHoldsUpNeitherDirection) {
  Folder folder;
  TapRun run(folder);
  int program = tool::openAsProgram(run.link);
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  std::vector<uint8_t> flood = repeated({0x98, 0x02, 0x22}, 25000);  // the device never reads
  size_t sent = tool::writeAll(program, flood, SLOW_BOUND_MS);
  EXPECT_EQ(sent, flood.size()) << "the tap went on reading the program";
  ASSERT_TRUE(run.tap.awaitOutput("the device is not taking bytes", SLOW_BOUND_MS));
  tool::writeSome(run.device.master, {0xD4});
  EXPECT_EQ(tool::readFor(program, 2000, 1), std::vector<uint8_t>{0xD4});
  run.tap.signal(SIGINT);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
  close(program);
}

TEST(TapRelayTest, AnUnreadStandardOutputHoldsUpNothing) {
  Folder folder;
  TapRun run(folder, {"--log", folder / "tap.log"}, Tool::UNREAD_PIPE);
  int program = tool::openAsProgram(run.link);
  ASSERT_TRUE(tool::awaitPath(folder / "tap.log", 2000));
  tool::pause(100);
  // Far more lines than a pipe holds: 4000 messages each way.
  for (int round = 0; round < 40; round++) {
    std::vector<uint8_t> keys = keystrokes(100);
    ASSERT_EQ(tool::writeSome(run.device.master, keys), keys.size());
    EXPECT_EQ(tool::readFor(program, 2000, keys.size()).size(), keys.size()) << "round " << round;
    std::vector<uint8_t> done(100, 0xFC);
    ASSERT_EQ(tool::writeSome(program, done), done.size());
    EXPECT_EQ(tool::readFor(run.device.master, 2000, done.size()).size(), done.size());
  }
  run.tap.signal(SIGINT);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0) << "ends though nobody reads its output";
  EXPECT_NE(tool::readFile(folder / "tap.log").find("4000 messages from the device"),
            std::string::npos);
  close(program);
}

TEST(TapRelayTest, EndsOnEveryRequestAndRemovesItsLink) {
  struct Row {
    const char *what;
    int signal;  // 0: --seconds 1
  };
  const Row rows[] = {
      {"Ctrl+C", SIGINT}, {"SIGTERM", SIGTERM}, {"a closed terminal", SIGHUP}, {"--seconds", 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    Folder folder;
    TapRun run(folder, row.signal ? std::vector<std::string>{}
                                  : std::vector<std::string>{"--seconds", "1"});
    if (row.signal) run.tap.signal(row.signal);
    EXPECT_EQ(run.tap.waitExit(END_BOUND_MS + 1000), 0);
    EXPECT_NE(run.tap.output().find("tap: warnings:"), std::string::npos) << "with the summary";
    EXPECT_FALSE(tool::exists(run.link));
  }
}

TEST(TapRelayTest, ALinkPathThatIsNotItsToReplaceIsRefused) {
  Folder folder;
  std::ofstream(folder / "com1") << "a user's file\n";
  DevicePort device;
  Tool tap(folder, {"tap", "--port", device.slave, "--link", folder / "com1"});
  EXPECT_EQ(tap.waitExit(2000), 2);
  EXPECT_EQ(tap.errors(), "talliver-device: --link " + (folder / "com1") +
                              " is a file; only a link to a pty is replaced\n");
  EXPECT_EQ(tool::readFile(folder / "com1"), "a user's file\n");
}

TEST(TapRelayTest, APortThatCanNeverOpenFailsAtOnce) {
  Folder folder;
  std::ofstream(folder / "file") << "not a port\n";
  mkdir((folder / "folder").c_str(), 0755);
  struct Row {
    std::vector<std::string> args;
    std::string error;
  };
  const Row rows[] = {
      {{"tap", "--port", folder / "file", "--link", folder / "com1"},
       "talliver-device: --port " + (folder / "file") +
           " is not a serial port: Inappropriate ioctl for device\n"},
      {{"tap", "--port", folder / "folder", "--link", folder / "com1"},
       "talliver-device: --port " + (folder / "folder") + ": Is a directory\n"},
      {{"conform", "--port", folder / "absent"},
       "talliver-device: --port " + (folder / "absent") + ": No such file or directory\n"},
  };
  for (const Row &row : rows) {
    Tool tap(folder, row.args);
    EXPECT_EQ(tap.waitExit(2000), 2);
    EXPECT_EQ(tap.errors(), row.error);
    EXPECT_FALSE(tool::exists(folder / "com1")) << "no link made for a run that cannot start";
  }
}

TEST(TapRelayTest, AnAbsentPortIsWaitedFor) {
  Folder folder;
  Tool tap(folder, {"tap", "--port", folder / "ttyUSB0", "--link", folder / "com1"});
  EXPECT_TRUE(tap.awaitOutput("waiting for the device: " + (folder / "ttyUSB0"), 2000));
  EXPECT_EQ(tap.waitExit(300), Tool::RUNNING);
  tap.signal(SIGINT);
  EXPECT_EQ(tap.waitExit(END_BOUND_MS), 0);
}

TEST(TapRelayTest, BadOptionsGetOneLine) {
  Folder folder;
  Tool tap(folder, {"tap", "--port", "/dev/null", "--link", folder / "com1", "--seconds", "5x"});
  EXPECT_EQ(tap.waitExit(2000), 2);
  EXPECT_EQ(tap.errors(),
            "talliver-device: --seconds 5x: not a whole number of seconds from 1 to 31622400; see "
            "--help\n");
}

TEST(TapRelayTest, ARecordGradedAgainGivesTheSameLines) {
  Folder folder;
  TapRun run(folder, {"--record", folder / "tap.jsonl", "--log", folder / "tap.log"});
  int program = tool::openAsProgram(run.link);
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  // A keystroke answered, two at once, a bad header, a data byte FF, a half
  // message left standing, and a keystroke never answered.
  const std::vector<std::vector<uint8_t>> device = {
      {0x84, 0x1E, 0x41}, {0x84, 0x30, 0x42, 0x84, 0x2E, 0x43},
      {0x04, 0x1E, 0x41}, {0x84, 0xFF, 0x41},
      {0x84, 0x1E},       {0x41, 0x84, 0x20, 0x44}};
  for (const auto &bytes : device) {
    tool::writeSome(run.device.master, bytes);
    tool::readFor(program, 60, 100);
    tool::writeSome(program, {0xFC});
    tool::pause(250);
  }
  tool::pause(500);
  run.tap.signal(SIGINT);
  ASSERT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
  close(program);

  Tool grade(folder, {"grade", folder / "tap.jsonl"});
  EXPECT_EQ(grade.waitExit(2000), 1) << "warnings were given" << grade.errors();
  auto fromLine = [](const std::string &text, const std::string &first) {
    return text.substr(text.find(first));
  };
  std::string live = fromLine(tool::readFile(folder / "tap.log"), "device port open");
  std::string again = fromLine(grade.output(), "device port open");
  EXPECT_EQ(again, live);
  EXPECT_NE(live.find("warning header-bit7"), std::string::npos) << live;
  EXPECT_NE(live.find("warning incomplete: 84 1E"), std::string::npos) << live;
}

TEST(TapRelayTest, LineRatePacesTheDevicesBytes) {
  Folder folder;
  TapRun run(folder, {"--line-rate"});
  int program = tool::openAsProgram(run.link);
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  std::vector<uint8_t> bytes = keystrokes(100);  // 300 bytes: 344 ms at 9600 8O1
  auto start = tool::Clock::now();
  tool::writeSome(run.device.master, bytes);
  EXPECT_EQ(tool::readFor(program, 3000, bytes.size()), bytes);
  double ms = std::chrono::duration<double, std::milli>(tool::Clock::now() - start).count();
  EXPECT_GE(ms, 300) << "a lower bound only: the line can be slower, never faster";
  close(program);
}

TEST(ScriptModeTest, RemovesItsLinkOnEveryWayOut) {
  struct Row {
    const char *what;
    std::vector<std::string> commands;
    int signal, exitCode;
  };
  const Row rows[] = {{"the end of the script", {"sleep 10"}, 0, 0},
                      {"a failed command", {"frobnicate"}, 0, 1},
                      {"SIGTERM", {"sleep 20000"}, SIGTERM, 128 + SIGTERM},
                      {"Ctrl+C", {"sleep 20000"}, SIGINT, 128 + SIGINT}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    Folder folder;
    std::vector<std::string> args = {"--link", folder / "com1"};
    args.insert(args.end(), row.commands.begin(), row.commands.end());
    Tool device(folder, args);
    ASSERT_TRUE(device.awaitOutput("device: ", 2000));
    if (row.signal) device.signal(row.signal);
    EXPECT_EQ(device.waitExit(END_BOUND_MS), row.exitCode);
    EXPECT_FALSE(tool::exists(folder / "com1"));
  }
}

TEST(ConformTest, ASilentDeviceIsNotGraded) {
  Folder folder;
  DevicePort device;
  Tool conform(folder, {"conform", "--port", device.slave, "--seconds", "4"});
  EXPECT_EQ(conform.waitExit(4000 + END_BOUND_MS), 3);
  std::string out = conform.output();
  EXPECT_NE(out.find("no keystroke yet: press keys on the device"), std::string::npos) << out;
  EXPECT_NE(out.find("NOT GRADED  forms: no message from the device"), std::string::npos);
  EXPECT_NE(out.find("\n0 passed, 0 failed, 7 not graded\n"), std::string::npos) << out;
}

}  // namespace
