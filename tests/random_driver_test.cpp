// The tool's invariants, whatever the input, timing, sink or signal. A
// seeded random driver runs the tap, script mode and the conformance run on
// pty pairs against a simulated device and program: random traffic both
// ways, stalls of either side and of standard output, logs and records on
// files, FIFOs, /dev/full and files that fill up, and signals at random
// moments; after each run it checks every invariant. A failure names the
// seed that replays the run: TALLIVER_SEED=N ctest -R RandomDriver.
// TALLIVER_RANDOM_SECONDS sets how long it runs (25 s).
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "tool_process.h"

namespace {

using tool::Bytes;
using tool::DevicePort;
using tool::Folder;
using tool::has;
using tool::Tool;

// A signal ends a run within a second; the bound only catches a run that does
// not end, whatever a busy machine and a sanitizer build make of the second.
// The slowest end is printed.
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
    if (fd < 0) return;
    size_t n = tool::write(fd, b);
    sent.insert(sent.end(), b.begin(), b.begin() + (long)n);
  }
};

bool isSubsequence(const Bytes &part, const Bytes &whole) {
  size_t at = 0;
  for (uint8_t b : whole)
    if (at < part.size() && part[at] == b) at++;
  return at == part.size();
}

std::vector<std::string> linesFrom(const std::string &text, size_t first) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (lines.size() > first) lines.erase(lines.begin(), lines.begin() + (long)first);
  return lines;
}

// "...: bytes from the device: 12 read, 10 delivered, ..." as numbers.
std::vector<long> counts(const std::string &out, const std::string &which) {
  std::smatch m;
  std::vector<long> n;
  std::regex line(which +
                  ": ([0-9]+) read, ([0-9]+) delivered(, ([0-9]+) dropped[^,]*)?, ([0-9]+) ");
  if (std::regex_search(out, m, line))
    for (int i : {1, 2, 4, 5}) n.push_back(m[i].matched ? std::stol(m[i]) : 0);
  return n;
}

// Grades the record and expects the lines the live run wrote to its log.
void gradeEqualsLive(const Folder &folder, const std::string &record, const std::string &log) {
  Tool grade(folder, {"grade", record});
  int code = grade.waitExit(10000);
  EXPECT_TRUE(code == 0 || code == 1 || code == 3)
      << "grade refused the record: " << grade.errors();
  std::string out = grade.output();
  if (has(tool::readFile(record), "\"event\":\"cut\"")) {
    EXPECT_TRUE(has(out, "the record was cut here")) << out;
    return;
  }
  std::vector<std::string> again = linesFrom(out, 1), live = linesFrom(log, 1);
  EXPECT_EQ(again, live) << "grade equals live";
}

// What the runs went through, printed at the end, so that a driver that
// stops reaching a case shows it.
std::map<std::string, int> seen;

struct Sink {
  enum Kind { NONE, FILE, FIFO, FULL, SMALL } kind;
  std::string path;
  int fifo = -1;  // the driver's end of a FIFO
  Bytes got;
};

// A tap between a simulated device and program, with everything random.
void tapRun(std::mt19937 &r, const Folder &folder) {
  DevicePort devicePort;
  End device, program;
  device.fd = devicePort.master;
  const std::string link = folder / "com1";
  std::vector<std::string> args = {"tap", "--port", devicePort.slave, "--link", link};
  if (r() % 4 == 0) args.push_back("--line-rate");
  Sink record = {(Sink::Kind)(r() % 5), folder / "record", -1, {}};
  Sink log = {(Sink::Kind)(r() % 4), folder / "log", -1, {}};
  if (log.kind == Sink::NONE) log.kind = Sink::FILE;  // the live lines, for grading again
  long fileLimit = record.kind == Sink::SMALL ? 2000 + (long)(r() % 30000) : 0;
  for (Sink *s : {&record, &log}) {
    if (s->kind == Sink::NONE) continue;
    if (s->kind == Sink::FULL) s->path = "/dev/full";
    if (s->kind == Sink::FIFO)
      mkfifo(s->path.c_str(), 0644), s->fifo = open(s->path.c_str(), O_RDONLY | O_NONBLOCK);
    args.insert(args.end(), {s == &record ? "--record" : "--log", s->path});
  }
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, 0};
  // Now and then a side that stops reading for longer than the tap holds
  // bytes for it; or a device that floods as fast as the pty takes bytes, to
  // the end: the signal, and the other side, are not to wait behind it.
  bool stalling = r() % 8 == 0;
  std::atomic<bool> flooding(!stalling && r() % 6 == 0);
  bool longRun = stalling || flooding;
  int runMs = longRun ? 4000 : 200 + (int)(r() % 1500), signal = signals[r() % 4];
  if (signal == 0)
    args.insert(args.end(), {"--seconds", longRun ? "4" : "1"}), runMs = longRun ? 4000 : 1000;
  Tool tap(folder, args, Tool::PIPE, fileLimit);
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(link); })) << tap.errors();

  // The plan: when the program opens and closes its port (or, brief, opens
  // it, writes and closes it at once, over and over, as `printf ... >LINK`
  // does), who stalls, and whether standard output is read. The program
  // writes nothing in the last moments of a timed run, so that the tap reads it all.
  bool brief = r() % 5 == 0;
  int sendUntil = signal ? runMs : runMs - 300;
  int openAt = brief || r() % 10 == 0 ? 1 << 30 : (int)(r() % 600),
      closeAt = r() % 5 == 0 ? openAt + (int)(r() % 500) : 1 << 30;
  int reopenAt = closeAt + 100 + (int)(r() % 300);
  int stallFrom = stalling ? 100 : r() % 3 == 0 ? (int)(r() % 800) : 1 << 30;
  int stallFor = stalling ? 3400 : (int)(r() % 2600);
  End *staller = r() % 2 ? &program : &device;
  bool readStdout = r() % 2, readFifos = r() % 2;
  long beforeOpen = 0, whileClosed = 0;  // device bytes sent while no program held the port
  Bytes flood;
  while (flooding && flood.size() < 65536) {
    Bytes more = traffic(r);
    flood.insert(flood.end(), more.begin(), more.end());
  }
  std::thread flooder([&] {
    for (size_t at = 0; flooding;) {
      pollfd room = {device.fd, POLLOUT, 0};
      ssize_t n = poll(&room, 1, 10) > 0
                      ? ::write(device.fd, &flood[at], std::min<size_t>(4096, flood.size() - at))
                      : 0;
      if (n <= 0) continue;
      device.sent.insert(device.sent.end(), &flood[at], &flood[at] + n);
      at = (at + (size_t)n) % flood.size();
    }
  });
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
    // The device talks in bursts, with pauses longer than a tick between.
    if (flood.empty() && (stalling || (t % 500 < 150 && r() % 4 == 0))) {
      size_t before = device.sent.size();
      device.send(traffic(r));
      if (stalling) device.send(traffic(r));
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
    device.pump(), program.pump();
    for (Sink *s : {&record, &log})
      if (s->fifo >= 0 && readFifos) tool::drain(s->fifo, &s->got);
    if (readStdout) tap.output();
    tool::pause(5);
  }
  if (signal) tap.signal(signal);
  auto ended = tool::Clock::now();
  if (r() % 2) device.reading = program.reading = true;  // else a stall goes on to the end
  tool::within(END_BOUND_MS + 1000, [&] {
    device.pump(), program.pump(), tap.output();
    for (Sink *s : {&record, &log}) tool::drain(s->fifo, &s->got);
    return tap.waitExit(0) != Tool::RUNNING;
  });
  int code = tap.waitExit(0);
  flooding = false;
  flooder.join();
  // What went to the device's port waits there for it; what the program left
  // unread went with its port.
  device.reading = program.reading = true;
  device.pump(), program.pump();
  int tookMs =
      (int)std::chrono::duration_cast<std::chrono::milliseconds>(tool::Clock::now() - ended)
          .count();

  // Bounded, and the link removed.
  ASSERT_NE(code, Tool::RUNNING) << "no end " << END_BOUND_MS << " ms after the signal";
  if (!flood.empty()) seen["the device floods"]++;
  EXPECT_LT(tookMs, END_BOUND_MS);
  seen["slowest end, ms"] = std::max(seen["slowest end, ms"], tookMs);
  EXPECT_FALSE(tool::exists(link));
  // A sink that fails is reported, and in the exit code; otherwise nothing is.
  std::string errors = tap.errors();
  bool full = record.kind == Sink::FULL || log.kind == Sink::FULL;
  EXPECT_EQ(code, errors.empty() ? 0 : 1) << errors;
  if (full) {
    EXPECT_TRUE(has(errors, "/dev/full: No space left on device")) << errors;
  }
  // Conservation: each byte read is delivered or counted, and what arrived
  // is what was sent, less what was counted.
  std::string out = tap.output();
  std::vector<long> d = counts(out, "tap: bytes from the device"),
                    p = counts(out, "tap: bytes from the program");
  ASSERT_EQ(d.size(), 4u) << "the summary, whatever standard output did: " << out;
  for (const char *c : {"lines were dropped here", "cut after line", "is not taking bytes",
                        "takes bytes again", "the program closed its port", "No space left"})
    if (has(out + errors + (log.kind == Sink::FILE ? tool::readFile(log.path) : ""), c)) seen[c]++;
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(d[0], d[1] + d[2] + d[3]) << out;
  EXPECT_EQ(p[0], p[1] + p[3]) << out;
  EXPECT_EQ(p[0], (long)program.sent.size()) << "every byte the program wrote was read";
  EXPECT_EQ((long)program.got.size(), d[1]) << "the program got what was delivered";
  EXPECT_EQ((long)device.got.size(), p[1]) << "the device got what was delivered";
  EXPECT_TRUE(isSubsequence(program.got, device.sent));
  EXPECT_TRUE(isSubsequence(device.got, program.sent));
  // A real port from the first byte: only what came while no program held it is dropped.
  EXPECT_LE(d[2], flood.empty() ? beforeOpen + whileClosed : d[2]);
  std::string logText = log.kind == Sink::FIFO   ? std::string(log.got.begin(), log.got.end())
                        : log.kind == Sink::FILE ? tool::readFile(log.path)
                                                 : "";
  bool logWhole = log.kind != Sink::FULL && !has(logText, "(the log was cut here");
  if (log.kind == Sink::FILE && logWhole && !has(out, "lines were dropped here")) {
    EXPECT_EQ(out, logText);
  }
  // Whole records, graded as they were seen live.
  if (record.kind == Sink::FIFO)
    std::ofstream(record.path = folder / "record.got")
        << std::string(record.got.begin(), record.got.end());
  if (record.kind != Sink::NONE && record.kind != Sink::FULL && logWhole)
    gradeEqualsLive(folder, record.path, logText);
  if (record.kind == Sink::SMALL) {
    EXPECT_EQ(has(errors, "--record"), has(tool::readFile(record.path), "\"cut\""));
  }
}

// Script mode: what it was asked to send reaches a program that reads,
// however slowly, before it ends 0; otherwise it says what was not taken.
void scriptRun(std::mt19937 &r, const Folder &folder) {
  const std::string link = folder / "com1";
  std::vector<std::string> steps, args = {"--link", link, "--timeout", "1500"};
  Bytes expected;
  bool paced = r() % 3 == 0;
  if (paced) args.push_back("--line-rate");
  for (int n = 1 + (int)(r() % 5); n > 0; n--) {
    if (r() % 3 == 0) {
      steps.push_back("sleep " + std::to_string(r() % 150));
      continue;
    }
    // Not what the pty's line settings act on before the program sets its
    // port up: a fresh COM port's pty keeps XON/XOFF and CR to LF on purpose.
    Bytes b;
    for (int k = r() % 4 ? 1 : 30; k > 0; k--) {  // now and then a long step
      Bytes more = traffic(r);
      b.insert(b.end(), more.begin(), more.end());
    }
    b.erase(std::remove_if(b.begin(), b.end(),
                           [](uint8_t c) { return c == 0x0D || c == 0x11 || c == 0x13; }),
            b.end());
    b.resize(std::min<size_t>(b.size(), paced ? 40 : 2000));  // paced, 40 take 46 ms
    if (b.empty()) continue;
    std::string step = "raw";
    for (uint8_t byte : b) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", byte);
      step += hex;
    }
    steps.push_back(step);
    expected.insert(expected.end(), b.begin(), b.end());
  }
  // A signalled run may be in a command that ignores SIGTERM, and leaves a child.
  int signalAt = r() % 3 == 0 ? (int)(r() % 1500) : 1 << 30;
  const std::string pids = folder / "pids";
  if (signalAt < 1 << 30)
    steps.insert(steps.begin() + (long)(r() % (steps.size() + 1)),
                 "run trap '' TERM; sleep 30 & echo $$ $! >" + pids + "; wait");
  bool fromStdin = r() % 2;
  if (!fromStdin)
    args.insert(args.end(), steps.begin(), steps.end());
  else
    args.push_back("-");
  Tool device(folder, args, Tool::PIPE, 0, fromStdin);
  ASSERT_TRUE(tool::within(3000, [&] { return tool::exists(link); })) << device.errors();
  for (const std::string &step : steps)
    if (fromStdin) device.input(step + "\n");
  if (fromStdin) device.endInput();
  bool reads = r() % 6 != 0;
  int openAt = (int)(r() % 300), every = (int)(r() % 250);
  End program;
  auto start = tool::Clock::now();
  auto ms = [&] {
    return (int)std::chrono::duration_cast<std::chrono::milliseconds>(tool::Clock::now() - start)
        .count();
  };
  bool signalled = false;
  while (device.waitExit(0) == Tool::RUNNING && ms() < 15000) {
    if (reads && program.fd < 0 && ms() >= openAt) program.fd = tool::openAsProgram(link, true);
    program.pump();
    if (!signalled && ms() >= signalAt) device.signal(SIGTERM), signalled = true;
    device.output();
    tool::pause(every);
  }
  int code = device.waitExit(END_BOUND_MS);
  program.pump();
  EXPECT_FALSE(tool::exists(link));
  // Nothing of the command is left.
  std::istringstream running(tool::readFile(pids));
  for (pid_t pid; running >> pid;) {
    EXPECT_TRUE(tool::within(1000, [&] { return !tool::alive(pid); })) << "left running: " << pid;
    if (tool::alive(pid)) kill(pid, SIGKILL);
  }
  EXPECT_TRUE(isSubsequence(program.got, expected) && program.got.size() <= expected.size());
  if (signalled) {
    EXPECT_TRUE(code == 0 || code == 1) << device.errors();
  } else if (reads) {
    EXPECT_EQ(code, 0) << device.errors();
    EXPECT_EQ(program.got, expected) << "everything sent before it ended";
  } else {
    EXPECT_EQ(code, expected.empty() ? 0 : 1);
    EXPECT_EQ(has(device.errors(), "never taken by the program"), !expected.empty())
        << device.errors();
  }
  for (size_t i = 0; i < steps.size() && !signalled; i++) {
    EXPECT_EQ(has(device.output(), "step done: " + steps[i] + "\n"), fromStdin);
    bool raw = steps[i].rfind("raw ", 0) == 0;
    EXPECT_TRUE(!raw || has(device.output(), "-> " + steps[i].substr(4))) << "the bytes whole";
  }
}

// The conformance run: what it sends reaches the device, its grades end its
// output, and its record grades the same.
void conformRun(std::mt19937 &r, const Folder &folder) {
  DevicePort devicePort;
  End device;
  device.fd = devicePort.master;
  Tool conform(folder,
               {"conform", "--port", devicePort.slave, "--seconds", "1", "--record",
                folder / "record", "--log", folder / "log"},
               Tool::PIPE);
  ASSERT_TRUE(conform.awaitOutput("conform: ", 3000)) << conform.errors();
  int signalAt = r() % 4 == 0 ? (int)(r() % 900) : 1 << 30;
  auto start = tool::Clock::now();
  auto ms = [&] {
    return (int)std::chrono::duration_cast<std::chrono::milliseconds>(tool::Clock::now() - start)
        .count();
  };
  while (conform.waitExit(0) == Tool::RUNNING && ms() < 1000 + END_BOUND_MS) {
    if (r() % 10 == 0) device.send(traffic(r));
    device.pump();
    if (ms() >= signalAt) conform.signal(SIGINT), signalAt = 1 << 30;
    conform.output();
    tool::pause(5);
  }
  int code = conform.waitExit(0);
  device.pump();
  ASSERT_NE(code, Tool::RUNNING);
  std::string out = conform.output();
  EXPECT_TRUE(
      std::regex_search(out, std::regex("\n[0-9]+ passed, [0-9]+ failed, [0-9]+ not graded\n$")))
      << out;
  std::vector<long> p = counts(out, "conform: bytes from the program");
  ASSERT_EQ(p.size(), 4u) << out;
  EXPECT_EQ((long)device.got.size(), p[1]);
  EXPECT_EQ(code == 1 && !has(out, "\nFAIL  "), p[3] > 0) << "what was not sent fails the run";
  gradeEqualsLive(folder, folder / "record", tool::readFile(folder / "log"));
}

TEST(RandomDriver, TheToolsInvariantsHoldWhateverHappens) {
  const char *replay = std::getenv("TALLIVER_SEED"),
             *seconds = std::getenv("TALLIVER_RANDOM_SECONDS");
  double budgetS = seconds ? std::atof(seconds) : 25;
  std::random_device entropy;
  auto start = tool::Clock::now();
  int runs = 0;
  do {
    unsigned seed = replay ? (unsigned)std::strtoul(replay, nullptr, 10) : entropy();
    std::mt19937 r(seed);
    int kind = (int)(r() % 10);
    SCOPED_TRACE("replay: TALLIVER_SEED=" + std::to_string(seed) + " ctest -R RandomDriver (" +
                 (kind < 6   ? "tap"
                  : kind < 8 ? "script"
                             : "conform") +
                 " run)");
    Folder folder;
    if (kind < 6) tapRun(r, folder);
    if (kind >= 6 && kind < 8) scriptRun(r, folder);
    if (kind >= 8) conformRun(r, folder);
    runs++;
  } while (!replay && !HasFailure() &&
           std::chrono::duration<double>(tool::Clock::now() - start).count() < budgetS);
  std::printf("%d runs;", runs);
  for (const auto &s : seen) std::printf(" \"%s\" %d;", s.first.c_str(), s.second);
  std::printf("\n");
}

}  // namespace
