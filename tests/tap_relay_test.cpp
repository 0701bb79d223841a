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

using tool::Bytes;
using tool::DevicePort;
using tool::Folder;
using tool::Tool;

// Ctrl+C and SIGTERM end a run within a second; the tests allow more, so
// that a busy machine does not fail them.
const int END_BOUND_MS = 3000;
// A sanitizer build is many times slower: waits for output allow for it.
const int SLOW_BOUND_MS = 10000;

// A message a number of times over.
Bytes repeated(Bytes message, size_t count) {
  Bytes bytes;
  for (size_t i = 0; i < count; i++) bytes.insert(bytes.end(), message.begin(), message.end());
  return bytes;
}

bool has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// A tap between a pty standing in for the device and a link in `folder`;
// with `program`, a program holds the link's port.
struct TapRun {
  DevicePort device;
  Tool tap;
  std::string link;
  int program = -1;
  TapRun(const Folder &folder, std::vector<std::string> more = {}, bool program = true,
         Tool::Output output = Tool::FILES)
      : tap(folder, args(folder, device.slave, more), output), link(folder / "com1") {
    EXPECT_TRUE(tool::within(2000, [&] { return tool::exists(link); }));
    if (!program) return;
    this->program = tool::openAsProgram(link);
    EXPECT_TRUE(tap.awaitOutput("the program opened its port", 2000));
  }
  ~TapRun() { close(program); }
  static std::vector<std::string> args(const Folder &folder, const std::string &port,
                                       std::vector<std::string> more) {
    more.insert(more.begin(), {"tap", "--port", port, "--link", folder / "com1"});
    return more;
  }
};

TEST(TapRelayTest, OnlyAProgramHoldingThePortGetsBytesAndThePortIsRaw) {
  Folder folder;
  TapRun run(folder, {}, false);
  const Bytes sent = {0x84, 0x1C, 0x0D, 0x84, 0x03, 0x03, 0x84, 0x13, 0x11, 0x84, 0x2E, 0x43};
  tool::write(run.device.master, sent);
  ASSERT_TRUE(run.tap.awaitOutput("bytes from the device are dropped", 2000));
  run.program = tool::openAsProgram(run.link);  // no settings touched
  ASSERT_TRUE(run.tap.awaitOutput("the program opened its port", 2000));
  EXPECT_TRUE(tool::read(run.program, 100, 1).empty()) << "nothing from before it opened";
  tool::write(run.device.master, sent);
  EXPECT_EQ(tool::read(run.program, 2000, sent.size()), sent)
      << "CR, Ctrl+C and XON/XOFF pass unchanged";
  // What it left unread when it closed the port is not there for the next.
  tool::write(run.device.master, {0x84, 0x1E, 0x41});
  ASSERT_TRUE(run.tap.awaitOutput("key a", 2000));
  close(run.program);
  ASSERT_TRUE(run.tap.awaitOutput("the program closed its port", 2000));
  run.program = tool::openAsProgram(run.link);
  ASSERT_TRUE(tool::within(2000, [&] {
    std::string out = run.tap.output();
    return out.find("opened its port") != out.rfind("opened its port");
  }));
  EXPECT_TRUE(tool::read(run.program, 100, 1).empty()) << "nothing from before it opened again";
  run.tap.signal(SIGINT);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
  EXPECT_TRUE(has(run.tap.output(), "(12 bytes from the device were dropped before)"));
  EXPECT_TRUE(has(run.tap.output(),
                  "tap: bytes dropped: 12 from the device while no program held "
                  "the port, 3 the program did not take"))
      << run.tap.output();
}

// A side that never reads: the tap goes on reading its writer, says so once,
// and the other direction keeps moving.
TEST(TapRelayTest, ASideThatDoesNotReadHoldsUpNeitherDirection) {
  for (bool programReads : {false, true}) {
    SCOPED_TRACE(programReads ? "the device does not read" : "the program does not read");
    Folder folder;
    TapRun run(folder);
    int writer = programReads ? run.program : run.device.master;
    int other = programReads ? run.device.master : run.program;
    Bytes flood = repeated({0x88, 0x00, 0x00}, 25000);  // far more than a pty holds
    EXPECT_EQ(tool::write(writer, flood, SLOW_BOUND_MS), flood.size());
    const std::string stalled =
        programReads ? "the device is not taking bytes" : "the program is not taking bytes";
    ASSERT_TRUE(run.tap.awaitOutput(stalled, SLOW_BOUND_MS));
    tool::write(other, {0xD4});
    EXPECT_EQ(tool::read(writer, 2000, 1), Bytes{0xD4});
    run.tap.signal(SIGTERM);
    EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0);
    std::string out = run.tap.output();
    EXPECT_EQ(out.find(stalled, out.find(stalled) + 1), std::string::npos) << "said once";
    EXPECT_FALSE(has(out, programReads ? " 0 the device did not take" : " 0 the program did not"));
  }
}

TEST(TapRelayTest, AnUnreadStandardOutputHoldsUpNothing) {
  Folder folder;
  TapRun run(folder, {"--log", folder / "tap.log"}, false, Tool::UNREAD_PIPE);
  run.program = tool::openAsProgram(run.link);
  ASSERT_TRUE(
      tool::within(2000, [&] { return has(tool::readFile(folder / "tap.log"), "opened"); }));
  // Far more lines than a pipe holds: 4000 messages each way.
  for (int round = 0; round < 40; round++) {
    Bytes keys = repeated({0x84, 0x1E, 0x41}, 100), done(100, 0xFC);
    ASSERT_EQ(tool::write(run.device.master, keys), keys.size());
    EXPECT_EQ(tool::read(run.program, 2000, keys.size()).size(), keys.size()) << round;
    ASSERT_EQ(tool::write(run.program, done), done.size());
    EXPECT_EQ(tool::read(run.device.master, 2000, done.size()).size(), done.size());
  }
  run.tap.signal(SIGINT);
  EXPECT_EQ(run.tap.waitExit(END_BOUND_MS), 0) << "ends though nobody reads its output";
  EXPECT_TRUE(has(tool::readFile(folder / "tap.log"), "4000 messages from the device"));
}

TEST(TapRelayTest, EndsOnEveryRequestAndRemovesItsLink) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP, 0}) {  // 0: --seconds 1
    SCOPED_TRACE(signal);
    Folder folder;
    TapRun run(folder,
               signal ? std::vector<std::string>{} : std::vector<std::string>{"--seconds", "1"},
               false);
    if (signal) run.tap.signal(signal);
    EXPECT_EQ(run.tap.waitExit(END_BOUND_MS + 1000), 0);
    EXPECT_TRUE(has(run.tap.output(), "tap: warnings:")) << "with the summary";
    EXPECT_FALSE(tool::exists(run.link));
  }
}

// Bad options, a port that can never open, a link that is not the tool's to
// replace, a file that is no record: one line, exit 2, no link made, the
// user's file left alone (though named for the log or the record).
TEST(TapRelayTest, ARunThatCannotStartSaysWhyInOneLine) {
  Folder folder;
  std::ofstream(folder / "file") << "not a port\n";
  mkdir((folder / "folder").c_str(), 0755);
  DevicePort device;
  const std::string com1 = folder / "com1", error = "talliver-device: ";
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"tap", "--port", "/dev/null", "--link", com1, "--seconds", "5x"},
       error + "--seconds 5x: not a whole number of seconds from 1 to 31622400; see --help\n"},
      {{"tap", "--port", folder / "file", "--link", com1, "--record", folder / "file"},
       error + "--port " + (folder / "file") +
           " is not a serial port: Inappropriate ioctl for device\n"},
      {{"tap", "--port", folder / "folder", "--link", com1},
       error + "--port " + (folder / "folder") + ": Is a directory\n"},
      {{"conform", "--port", folder / "absent", "--log", folder / "file"},
       error + "--port " + (folder / "absent") + ": No such file or directory\n"},
      {{"tap", "--port", device.slave, "--link", folder / "file", "--record", folder / "file"},
       error + "--link " + (folder / "file") + " is a file; only a link to a pty is replaced\n"},
      {{"grade", folder / "absent"}, error + (folder / "absent") + ": cannot read it\n"},
      {{"grade", folder / "file"},
       error + (folder / "file") + " line 1: not a JSON object at column 1\n"},
  };
  for (const auto &row : rows) {
    Tool tool(folder, row.first);
    EXPECT_EQ(tool.waitExit(2000), 2);
    EXPECT_EQ(tool.errors(), row.second);
    EXPECT_FALSE(tool::exists(com1)) << "no link made for a run that cannot start";
  }
  EXPECT_EQ(tool::readFile(folder / "file"), "not a port\n");
}

TEST(TapRelayTest, AnAbsentPortIsWaitedFor) {
  Folder folder;
  Tool tap(folder, {"tap", "--port", folder / "ttyUSB0", "--link", folder / "com1"});
  EXPECT_TRUE(tap.awaitOutput("waiting for the device: " + (folder / "ttyUSB0"), 2000));
  EXPECT_EQ(tap.waitExit(300), Tool::RUNNING);
  tap.signal(SIGINT);
  EXPECT_EQ(tap.waitExit(END_BOUND_MS), 0);
}

TEST(TapRelayTest, ARecordGradedAgainGivesTheSameLines) {
  Folder folder;
  TapRun run(folder, {"--record", folder / "tap.jsonl", "--log", folder / "tap.log"});
  // A keystroke answered, two at once, a bad header, a data byte FF, a half
  // message left standing, and a keystroke never answered.
  const std::vector<Bytes> device = {{0x84, 0x1E, 0x41}, {0x84, 0x30, 0x42, 0x84, 0x2E, 0x43},
                                     {0x04, 0x1E, 0x41}, {0x84, 0xFF, 0x41},
                                     {0x84, 0x1E},       {0x41, 0x84, 0x20, 0x44}};
  for (const Bytes &bytes : device) {
    tool::write(run.device.master, bytes);
    tool::read(run.program, 60, 100);
    tool::write(run.program, {0xFC});
    tool::pause(250);
  }
  tool::pause(500);
  run.tap.signal(SIGINT);
  ASSERT_EQ(run.tap.waitExit(END_BOUND_MS), 0);

  Tool grade(folder, {"grade", folder / "tap.jsonl"});
  EXPECT_EQ(grade.waitExit(2000), 1) << "warnings were given" << grade.errors();
  std::string live = tool::readFile(folder / "tap.log"), again = grade.output();
  live = live.substr(live.find("device port open"));
  EXPECT_EQ(again.substr(again.find("device port open")), live);
  EXPECT_TRUE(has(live, "warning header-bit7")) << live;
  EXPECT_TRUE(has(live, "warning incomplete: 84 1E")) << live;
}

TEST(TapRelayTest, LineRatePacesTheDevicesBytes) {
  Folder folder;
  TapRun run(folder, {"--line-rate"});
  Bytes bytes = repeated({0x84, 0x1E, 0x41}, 100);  // 300 bytes: 344 ms at 9600 8O1
  auto start = tool::Clock::now();
  tool::write(run.device.master, bytes);
  EXPECT_EQ(tool::read(run.program, 3000, bytes.size()), bytes);
  double ms = std::chrono::duration<double, std::milli>(tool::Clock::now() - start).count();
  EXPECT_GE(ms, 300) << "a lower bound only: the line can be slower, never faster";
}

TEST(ScriptModeTest, RemovesItsLinkOnEveryWayOut) {
  // -1: a failed command; 0: the end of the script; then signals that end it.
  for (int signal : {-1, 0, SIGTERM, SIGINT, SIGPIPE}) {
    SCOPED_TRACE(signal);
    Folder folder;
    Tool device(folder, {"--link", folder / "com1",
                         signal < 0 ? "frobnicate"
                         : signal   ? "sleep 20000"
                                    : "sleep 10"});
    ASSERT_TRUE(device.awaitOutput("device: ", 2000));
    if (signal > 0) device.signal(signal);
    EXPECT_EQ(device.waitExit(END_BOUND_MS), signal < 0 ? 1 : signal ? 128 + signal : 0);
    EXPECT_FALSE(tool::exists(folder / "com1"));
  }
}

TEST(ConformTest, ASilentDeviceIsNotGraded) {
  Folder folder;
  DevicePort device;
  Tool conform(folder, {"conform", "--port", device.slave, "--seconds", "4"});
  EXPECT_EQ(conform.waitExit(4000 + END_BOUND_MS), 3);
  std::string out = conform.output();
  EXPECT_TRUE(has(out, "no keystroke yet: press keys on the device")) << out;
  EXPECT_TRUE(has(out, "NOT GRADED  forms: no message from the device"));
  EXPECT_TRUE(has(out, "\n0 passed, 0 failed, 7 not graded\n")) << out;
}

}  // namespace
