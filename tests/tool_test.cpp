// The tool as a device builder runs it, on pty pairs: clear errors that
// change nothing, text typed as written whatever the locks, the tap's count
// of every byte, and runs that end when asked, whoever stopped reading.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <dirent.h>

#include <functional>
#include <set>

#include "line.h"
#include "tool_checks.h"

namespace {

using tool::Bytes;
using tool::DevicePort;
using tool::Folder;
using tool::Tool;

std::set<std::string> names(const std::string &folder) {
  std::set<std::string> all;
  DIR *dir = opendir(folder.c_str());
  for (dirent *e; dir && (e = readdir(dir));) all.insert(e->d_name);
  if (dir) closedir(dir);
  return all;
}

std::string repeat(const std::string &text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

// Bad options, a port that can never open, a link or a file that is not the
// tool's to take, a bad step: one line, exit 2, and nothing changed.
TEST(ToolTest, ARunThatCannotStartSaysWhyInOneLineAndChangesNothing) {
  Folder folder;
  DevicePort device;
  std::ofstream(folder / "file") << "not a port\n";
  mkdir((folder / "folder").c_str(), 0755);
  mkfifo((folder / "fifo").c_str(), 0644);
  sockaddr_un socket = {AF_UNIX, {}};
  (folder / "socket").copy(socket.sun_path, sizeof socket.sun_path - 1);
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  bind(listener, (sockaddr *)&socket, sizeof socket);
  symlink(device.slave.c_str(), (folder / "live").c_str());  // a live pty: another tap's
  const std::string com1 = folder / "com1", e = "talliver-device: ", help = "; see --help\n",
                    only = "; only a link to a pty that has gone is replaced";
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"tap", "--port", "/dev/null", "--link", com1},
       "--port /dev/null is not a serial port: Inappropriate ioctl for device"},
      {{"tap", "--port", com1, "--link", com1}, "--port and --link name one path"},
      {{"tap", "--port", folder / "socket", "--link", com1},
       "--port " + (folder / "socket") + " is a socket, not a serial port"},
      {{"tap", "--port", "/dev/tty", "--link", com1},
       "--port /dev/tty: the controlling terminal, and this run has none"},
      {{"tapp", "--port", device.slave}, "tapp is not a mode; script mode has no option --port"},
      {{"tap", "--port", device.slave, "--link", com1, "--log", folder / "./com1"},
       "--log names the --link: the log needs a file of its own"},
      {{"conform", "--port", folder / "absent", "--log", folder / "file"},
       "--port " + (folder / "absent") + ": No such file or directory"},
      {{"tap", "--port", device.slave, "--link", folder / "file", "--log", folder / "new.log"},
       "--link " + (folder / "file") + " is a file" + only},
      {{"tap", "--port", device.slave, "--link", folder / "live", "--record", folder / "new"},
       "--link " + (folder / "live") + " is a link to " + device.slave +
           ", a pty in use (another run's?)" + only},
      {{"tap", "--port", device.slave, "--link", com1, "--log", folder / "file", "--record",
        folder / "file"},
       "--record " + (folder / "file") + ": the same file as --log"},
      {{"tap", "--port", device.slave, "--link", com1, "--record", folder / "fifo"},
       "--record " + (folder / "fifo") + ": a FIFO that nobody reads"},
      {{"conform", "--port", device.slave, "--log", device.slave},
       "--log " + device.slave + ": the device's own port"},
      {{"--link", com1, "key a", "sleep 5x"}, "'sleep 5x': sleep takes MS"},
      // Checked in a loop whatever the length, and quoted short.
      {{"--link", com1, "key a", "raw" + repeat(" 00", 8000) + " zz"},
       "'raw" + repeat(" 00", 12) + " ...' (24006 characters): raw takes HEX..."},
      {{"--link", com1, "text " + std::string(100000, 'a') + "\xC3\xA9"},
       "'text " + std::string(35, 'a') + "...' (100007 characters): no key types '\xC3\xA9'"},
      {{"grade", folder / "absent"},
       (folder / "absent") + ": cannot read it: No such file or directory"},
  };
  const std::set<std::string> before = names(folder.path);
  for (const auto &row : rows) {
    SCOPED_TRACE(row.second);
    Tool tool(folder, row.first);
    EXPECT_EQ(tool.waitExit(3000), 2);
    EXPECT_EQ(tool.errors(), e + row.second + help);
    std::set<std::string> now = names(folder.path);
    now.erase("stdout"), now.erase("stderr");
    EXPECT_EQ(now, before) << "nothing made, nothing removed";
  }
  EXPECT_EQ(tool::readFile(folder / "file"), "not a port\n");
  close(listener);
}

// A turn of the loop takes a bounded share of what a side has sent, so that
// the other side and a signal never wait behind a flood.
TEST(LineTest, ATurnTakesABoundedShareOfAFlood) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  size_t sent = tool::write(pair[0], Bytes(1 << 20, 0x41));
  device::SerialPort port("flood");
  port.fd = pair[1];
  device::Transcript out;
  device::View view(out, "tap", false);
  device::Line line(out, &view, false);
  line.deviceOpened(&port);
  size_t got = 0;
  line.fromDevice = [&](const device::Bytes &data) { got += data.size(); };
  line.turn(0);
  EXPECT_GT(got, 0u);
  EXPECT_LE(got, 16384u) << "of " << sent;
  close(pair[0]);
}

// The closing words after Ctrl+C hold no exit when nobody reads them
// (standard error in the pipe of standard output, as with 2>&1 | less paused).
TEST(ToolTest, AReaderThatStopsHoldsNoExit) {
  Folder folder;
  std::ofstream record(folder / "big");
  record << "{\"us\":0,\"event\":\"start\",\"mode\":\"tap\",\"port\":\"p\"}\n";
  for (int ms = 0; ms < 3000; ms++)
    record << "{\"us\":" << ms * 1000
           << ",\"event\":\"message\",\"dir\":\"device\",\"bytes\":\"CC\","
           << "\"byte_us\":[" << ms * 1000 << "]}\n";
  record.close();
  Tool grade(folder, {"grade", folder / "big"}, Tool::BOTH);
  tool::pause(500);
  grade.signal(SIGINT);
  EXPECT_EQ(grade.waitExit(3000), 1);
}

// The program's side as the program behaves: a poll cycle (a tick) takes
// every message that waits but ends at a keystroke; a flag request sets all
// eight bits, pressing each lock key whose bit differs; a query answers the
// flags as they are. Its key monitor (its own window has the focus) sends
// what it saw of a cycle's keys only after the cycle, at the latest right
// before the next answer.
struct ProgramModel {
  int fd = -1;
  uint8_t locks = 0x20, held = 0, reported = 0x20;  // Num Lock on
  int lockPresses = 0, ticks = 0;                   // ticks: cycles with bytes to take
  std::string typed;         // as a US layout types it; "^C": Ctrl+C, "^+C": Ctrl+Shift+C
  Bytes earlier, thisCycle;  // what the monitor has yet to send
  device::Decoder decoder;
  std::vector<uint8_t> waiting;

  uint8_t flags() const { return (uint8_t)(locks | held); }
  void send(const Bytes &bytes) {
    tool::write(fd, earlier);
    earlier.clear();
    tool::write(fd, bytes);
  }
  void report() {
    if (flags() != reported)
      reported = flags(), thisCycle.insert(thisCycle.end(), {0x88, 0, reported});
  }
  void type(char vk) {
    bool shift = held & 0x03, letter = vk >= 'A' && vk <= 'Z';
    if (held & 0x04)
      typed += std::string(shift ? "^+" : "^") + vk;
    else if (letter)
      typed += shift != bool(locks & 0x40) ? vk : (char)(vk + 32);
    else
      typed += vk == '1' && shift ? '!' : vk == (char)0xBC ? ',' : vk;
  }
  void cycle() {
    earlier.insert(earlier.end(), thisCycle.begin(), thisCycle.end());
    thisCycle.clear();
    ticks += !waiting.empty();
    while (!waiting.empty()) {
      uint8_t byte = waiting.front();
      waiting.erase(waiting.begin());
      auto m = decoder.feed(byte);
      if (!m) continue;
      if (m->command == device::MODIFIER_FLAGS) {
        uint8_t now = flags();
        for (int bit = 7; bit >= 0; bit--) {
          uint8_t mask = (uint8_t)(1 << bit);
          if ((m->data2 & mask) == (now & mask)) continue;
          if (bit >= 4) locks ^= mask, lockPresses++;
          if (bit == 2 || bit == 3) held ^= mask;
          if (bit <= 1) held = m->data2 & mask ? held | 0x03 : held & ~0x03;
        }
        report();
      }
      if (m->command == device::QUERY_FLAGS) send({0x88, 0x00, flags()});
      if (m->command == device::IDENTIFY) send({0x98, 0x02, 0x22});
      if (device::isKeystroke(m->command)) {
        type((char)m->data2);
        send({0xFC});
        thisCycle.insert(thisCycle.end(), m->bytes.begin(), m->bytes.end());  // the echo
        return;
      }
    }
  }
  // Serves the port until `done` holds, for up to `ms`.
  bool serve(int ms, const std::function<bool()> &done) {
    return tool::within(ms, [&] {
      tool::drain(fd, &waiting);
      cycle();
      return done();
    });
  }
};

// Text as written whatever the locks, and chords: no lock key is pressed,
// no key is left down, not even one the user held and let go of meanwhile,
// and a run goes at one keystroke a tick: the ticks are the first key's
// query, a tick a key, and a last closing request.
TEST(ToolTest, TypesAsWrittenWhateverTheLocksAndLeavesNoKeyDown) {
  const struct {
    uint8_t flags;
    std::string step, typed;
    int ticks;
  } rows[] = {
      {0x60, "text Hello, World!", "Hello, World!", 15},
      {0x24, "text H", "H", 3},  // Ctrl held, and let go meanwhile
      {0x60, "key ctrl+c", "^C", 3},
      {0x20, "text " + repeat("a run of lower case ", 3), repeat("a run of lower case ", 3), 61},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.step + device::format(" with flags %02X", row.flags));
    Folder folder;
    Tool device(folder, {"--link", folder / "com1", "--record", folder / "record", row.step});
    ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(folder / "com1"); }));
    ProgramModel program;
    program.locks = row.flags & 0xF0, program.held = row.flags & 0x0F;
    program.reported = row.flags;
    program.fd = tool::openAsProgram(folder / "com1");
    program.serve(10000, [&] { return device.waitExit(0) != Tool::RUNNING; });
    EXPECT_EQ(device.waitExit(0), 0) << device.errors();
    EXPECT_EQ(program.typed, row.typed);
    EXPECT_EQ(program.lockPresses, 0);
    EXPECT_EQ((int)program.flags(), row.flags & 0xF0) << "every held key up";
    EXPECT_EQ(program.ticks, row.ticks);
    close(program.fd);
    // The run's record, graded again: both sides' messages, and no rule of the line broken.
    Tool grade(folder, {"grade", folder / "record"});
    EXPECT_EQ(grade.waitExit(5000), 0) << grade.output() << grade.errors();
    EXPECT_FALSE(tool::has(grade.output(), "FC latency: no keystrokes")) << grade.output();
  }
}

// Paced, a burst after a pause leaves at the line's pace too: an idle line
// saves up no time. (A lower bound only: a busy machine can only stretch it.)
TEST(ToolTest, LineRatePacesEveryBurst) {
  Folder folder;
  const std::string burst = "raw" + repeat(" CC", 200);
  Tool device(folder, {"--link", folder / "com1", "--line-rate", burst, "sleep 400", burst});
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(folder / "com1"); }));
  int program = tool::openAsProgram(folder / "com1");
  std::vector<tool::Clock::time_point> came;
  tool::within(5000, [&] {
    Bytes got;
    tool::drain(program, &got);
    came.insert(came.end(), got.size(), tool::Clock::now());
    return came.size() >= 400;
  });
  ASSERT_EQ(came.size(), 400u);
  // A reader held up by a busy machine takes several bytes at once, so the
  // span it sees can only fall short of the line's 228 ms; an unpaced burst
  // comes all at once. Half the line's time tells the two apart.
  EXPECT_GE(came[399] - came[200], std::chrono::milliseconds(199 * 1146 / 1000 / 2));
  close(program);
}

// A signal ends script mode at once, and the command a step runs with it,
// even one that ignores SIGTERM and leaves a child; sent bytes that the
// program never read fail the run.
TEST(ToolTest, ASignalEndsTheRunAndTheCommandsItRan) {
  Folder folder;
  const std::string pids = folder / "pids";
  Tool device(folder, {"--link", folder / "com1",
                       "run trap '' TERM; sleep 30 & echo $$ $! >" + pids + ".new; mv " + pids +
                           ".new " + pids + "; wait"});
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(pids); })) << device.errors();
  device.signal(SIGTERM);
  EXPECT_EQ(device.waitExit(3000), 1);
  EXPECT_FALSE(tool::exists(folder / "com1"));
  std::istringstream running(tool::readFile(pids));
  for (pid_t pid; running >> pid;) {
    EXPECT_TRUE(tool::within(1000, [&] { return !tool::alive(pid); })) << "left running: " << pid;
    if (tool::alive(pid)) kill(pid, SIGKILL);
  }

  Tool unread(folder, {"--link", folder / "com1", "--timeout", "300", "raw 84 1E 41"});
  EXPECT_EQ(unread.waitExit(3000), 1);
  EXPECT_TRUE(tool::has(unread.errors(), "3 bytes sent were never taken")) << unread.errors();
}

// Every byte the tap reads is delivered or counted (the device's dropped
// while no program holds the port); standard output left unread is thinned
// and says where; a sink that fails or falls behind fails the run, and
// holds no exit after a signal.
TEST(ToolTest, TheTapCountsEveryByteAndSaysWhatFailed) {
  Folder folder;
  DevicePort device;
  const std::string link = folder / "com1", fifo = folder / "fifo";  // fifo: a log nobody reads
  mkfifo(fifo.c_str(), 0644);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  Tool tap(folder,
           {"tap", "--port", device.slave, "--link", link, "--record", "/dev/full", "--log", fifo},
           Tool::PIPE);
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(link); })) << tap.errors();
  tool::write(device.master, {0x84, 0x1E, 0x41});
  tool::pause(200);
  int program = tool::openAsProgram(link);
  Bytes atProgram, atDevice;
  tool::write(program, {0xFC, 0x98, 0x02, 0x22});
  tool::within(5000, [&] {  // more lines than the pipe and the tap hold for it
    size_t sent = tool::write(device.master, Bytes(512, 0xCC));
    tool::drain(program, &atProgram), tool::drain(device.master, &atDevice);
    return atProgram.size() >= 20000 && sent == 512;
  });
  tap.signal(SIGINT);
  std::string out;
  tool::within(3000, [&] {
    tool::drain(program, &atProgram), tool::drain(device.master, &atDevice);
    return out = tap.output(), tap.waitExit(0) != Tool::RUNNING;
  });
  EXPECT_EQ(tap.waitExit(0), 1);
  EXPECT_TRUE(tool::has(tap.errors(), "--record /dev/full: No space left on device"));
  EXPECT_TRUE(tool::has(tap.errors(), "--log " + fifo + ": it fell more than 256 KiB behind"));
  EXPECT_FALSE(tool::exists(link));
  EXPECT_TRUE(tool::has(out, "lines were dropped here"));
  EXPECT_TRUE(tool::has(out, device::format("bytes from the device: %zu read, %zu delivered, 3 "
                                            "dropped while no program held the port, 0 ",
                                            atProgram.size() + 3, atProgram.size())))
      << out.substr(out.size() - std::min<size_t>(out.size(), 1000));
  EXPECT_TRUE(tool::has(out, "bytes from the program: 4 read, 4 delivered, 0 "));
  EXPECT_EQ(atDevice, Bytes({0xFC, 0x98, 0x02, 0x22}));
  close(program), close(reader);
}

}  // namespace
