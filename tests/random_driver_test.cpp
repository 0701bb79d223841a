// The tap's invariants, whatever the traffic, timing or signal. A seeded
// random driver runs the tap on pty pairs between a simulated device and
// program: random bytes both ways, a program that opens, closes and reopens
// its port or writes in short sessions, either side stalling, pacing on or
// off, and an end by a signal or by --seconds. After each run: the tap ended
// within its bound, its link is gone, and every byte is accounted for. A
// failure names the seed that replays it: TALLIVER_SEED=N ctest -R RandomDriver.
// TALLIVER_RANDOM_SECONDS sets how long it runs (15 s).
#include <gtest/gtest.h>

#include <cctype>
#include <random>

#include "tool_checks.h"

namespace {

using tool::Bytes;
using tool::Tool;

// The bound only catches a run that does not end, whatever a busy machine
// and a sanitizer make of the tap's second.
const int END_BOUND_MS = 10000;

// Bytes a device or a program might send: messages, and anything at all.
Bytes traffic(std::mt19937 &r) {
  static const Bytes kinds[] = {{0x84, 0x1E, 0x41}, {0xCC}, {0xD4}, {0x88, 0x00, 0x40}, {0xFC}};
  Bytes b;
  for (int n = r() % 4 == 0 ? (int)(r() % 400) : 1; n > 0; n--) {
    if (r() % 5 == 0) {
      for (int k = (int)(r() % 4) + 1; k > 0; k--) b.push_back((uint8_t)r());
    } else {
      const Bytes &k = kinds[r() % 5];
      b.insert(b.end(), k.begin(), k.end());
    }
  }
  return b;
}

// One end the driver plays: what it sent, what it got, and whether it reads.
struct End {
  int fd = -1;
  Bytes sent, got;
  bool reading = true;
  void pump() {
    if (reading) tool::drain(fd, &got);
  }
  void send(const Bytes &b) {
    if (fd >= 0) sent.insert(sent.end(), b.begin(), b.begin() + (long)tool::write(fd, b));
  }
};

bool isSubsequence(const Bytes &part, const Bytes &whole) {
  size_t at = 0;
  for (uint8_t b : whole) at += at < part.size() && part[at] == b;
  return at == part.size();
}

// "tap: bytes from the device: 12 read, 10 delivered, ..." as four numbers:
// read, delivered, dropped (the program's side drops none) and not taken.
std::vector<long> counts(const std::string &out, const std::string &side) {
  size_t at = out.find("bytes from the " + side + ": ");
  std::vector<long> n;
  for (const char *p = at == std::string::npos ? "" : out.c_str() + at; *p && *p != '\n'; p++)
    if (std::isdigit((unsigned char)*p) && !std::isdigit((unsigned char)p[-1]))
      n.push_back(std::strtol(p, nullptr, 10));
  if (n.size() == 3) n.insert(n.begin() + 2, 0);
  return n;
}

void tapRun(std::mt19937 &r, const tool::Folder &folder) {
  tool::DevicePort devicePort;
  End device, program;
  device.fd = devicePort.master;
  const std::string link = folder / "com1";
  std::vector<std::string> args = {"tap", "--port", devicePort.slave, "--link", link};
  if (r() % 4 == 0) args.push_back("--line-rate");
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, 0};
  bool stalling = r() % 8 == 0;
  int runMs = stalling ? 4000 : 200 + (int)(r() % 1500), signal = signals[r() % 4];
  if (signal == 0) args.insert(args.end(), {"--seconds", stalling ? "4" : "1"});
  if (signal == 0) runMs = stalling ? 4000 : 1000;
  Tool tap(folder, args, Tool::PIPE);
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(link); })) << tap.errors();

  // The plan. A brief program opens the port, writes and closes it at once,
  // over and over, as `printf ... >LINK` does. A timed run's program writes
  // nothing in its last moments, so that the tap reads it all.
  bool brief = r() % 5 == 0;
  int sendUntil = signal ? runMs : runMs - 300;
  int openAt = brief || r() % 10 == 0 ? 1 << 30 : (int)(r() % 600),
      closeAt = r() % 5 == 0 ? openAt + (int)(r() % 500) : 1 << 30;
  int reopenAt = closeAt + 100 + (int)(r() % 300);
  int stallFrom = stalling ? 100 : r() % 3 == 0 ? (int)(r() % 800) : 1 << 30;
  int stallFor = stalling ? 3400 : (int)(r() % 2600);
  End *staller = r() % 2 ? &program : &device;
  long beforeOpen = 0, whileClosed = 0;  // device bytes sent while no program held the port
  auto start = tool::Clock::now();
  auto ms = [&] {
    return (int)std::chrono::duration_cast<std::chrono::milliseconds>(tool::Clock::now() - start)
        .count();
  };
  for (int t = 0; t < runMs; t = ms()) {
    if (program.fd < 0 && (t >= openAt && t < closeAt)) program.fd = tool::openAsProgram(link);
    if (program.fd >= 0 && t >= closeAt && t < reopenAt) close(program.fd), program.fd = -1;
    if (program.fd < 0 && t >= reopenAt) program.fd = tool::openAsProgram(link);
    staller->reading = !(t >= stallFrom && t < stallFrom + stallFor);
    if (stalling || (t % 500 < 150 && r() % 4 == 0)) {  // bursts, pauses longer than a tick
      size_t before = device.sent.size();
      device.send(traffic(r));
      // Bytes on their way as the program closes its port arrive after it,
      // later still on a busy machine.
      long n = (long)(device.sent.size() - before);
      if (program.fd < 0 || (t >= closeAt - 1000 && t < reopenAt))
        (t < openAt ? beforeOpen : whileClosed) += n;
    }
    if (brief && t < sendUntil && r() % 10 == 0) {
      program.fd = tool::openAsProgram(link);
      program.send(traffic(r));
      close(program.fd), program.fd = -1;
    }
    if (t < sendUntil && r() % (stalling ? 1 : 8) == 0) program.send(traffic(r));
    device.pump(), program.pump(), tap.output();
    tool::pause(5);
  }
  if (signal) tap.signal(signal);
  if (r() % 2) device.reading = program.reading = true;  // else a stall goes on to the end
  tool::within(END_BOUND_MS, [&] {
    device.pump(), program.pump(), tap.output();
    return tap.waitExit(0) != Tool::RUNNING;
  });
  int code = tap.waitExit(0);
  // What went to the device's port waits there; what the program left
  // unread went with its port.
  device.reading = program.reading = true;
  device.pump(), program.pump();
  ASSERT_NE(code, Tool::RUNNING) << "no end " << END_BOUND_MS << " ms after the signal";
  EXPECT_FALSE(tool::exists(link));
  EXPECT_EQ(code, tap.errors().empty() ? 0 : 1) << tap.errors();

  // Conservation: each byte read is delivered or counted, and what arrived
  // is what was sent, less what was counted.
  std::string out = tap.output();
  std::vector<long> d = counts(out, "device"), p = counts(out, "program");
  ASSERT_EQ(d.size(), 4u) << "the summary, whatever standard output did: " << out;
  ASSERT_EQ(p.size(), 4u) << out;
  EXPECT_EQ(d[0], d[1] + d[2] + d[3]) << out;
  EXPECT_EQ(p[0], p[1] + p[3]) << out;
  EXPECT_EQ(p[0], (long)program.sent.size()) << "every byte the program wrote was read";
  EXPECT_EQ((long)program.got.size(), d[1]) << "the program got what was delivered";
  EXPECT_EQ((long)device.got.size(), p[1]) << "the device got what was delivered";
  EXPECT_TRUE(isSubsequence(program.got, device.sent));
  EXPECT_TRUE(isSubsequence(device.got, program.sent));
  EXPECT_LE(d[2], beforeOpen + whileClosed) << "only what came while no program held the port "
                                               "is dropped";
}

TEST(RandomDriver, TheTapAccountsForEveryByteWhateverHappens) {
  const char *replay = std::getenv("TALLIVER_SEED"),
             *seconds = std::getenv("TALLIVER_RANDOM_SECONDS");
  double budgetS = seconds ? std::atof(seconds) : 15;
  std::random_device entropy;
  auto start = tool::Clock::now();
  int runs = 0;
  do {
    unsigned seed = replay ? (unsigned)std::strtoul(replay, nullptr, 10) : entropy();
    std::mt19937 r(seed);
    SCOPED_TRACE("replay: TALLIVER_SEED=" + std::to_string(seed) + " ctest -R RandomDriver");
    tool::Folder folder;
    tapRun(r, folder);
    runs++;
  } while (!replay && !HasFailure() &&
           std::chrono::duration<double>(tool::Clock::now() - start).count() < budgetS);
  std::printf("%d runs\n", runs);
}

}  // namespace
