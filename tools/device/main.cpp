// talliver-device: plays the VANTOLE device's part on a pseudo-terminal.
//
// Creates a fresh pty, points the given link (the Windows program's COM port)
// at it, then runs commands from the command line or, with "-", from
// standard input, one per line. Prints every byte sent and every message the
// program answers, decoded. Exits 1 at the first command that fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <time.h>
#include <unistd.h>

#include "link_codec.h"
#include "pty_line.h"

using namespace device;
using Clock = std::chrono::steady_clock;

namespace {

const char USAGE[] =
    "usage: talliver-device --link PATH [--timeout MS] COMMAND... | -\n"
    "  --link PATH   the program's COM port: a symbolic link pointed at this pty\n"
    "  --timeout MS  how long to wait for each answer (default 3000)\n"
    "  -             read the commands from standard input, one a line\n"
    "commands (one argument each, quoted when it has blanks):\n"
    "  identify [MS]        send the identify request, wait for the identity (default 30 s)\n"
    "  key NAME|VK:SCAN     one keystroke (a, F4, enter, 0x41:0x1E); waits for its FC\n"
    "  syskey NAME|VK:SCAN  the same as a system keystroke\n"
    "  text STRING          type the characters, holding Shift where they need it\n"
    "  mods HEX             set the lock and modifier keys to this flags byte\n"
    "  query                ask for the flags byte and print it\n"
    "  expect-flags HEX     ask for the flags byte; fail unless it is HEX\n"
    "  raw HEX...           send bytes exactly as given\n"
    "  listen MS            print what the program sends for MS milliseconds\n"
    "  sleep MS             wait\n"
    "  latency N            N keystrokes at random moments; print write-to-FC times\n"
    "  run SHELL-COMMAND    run a command on this machine and wait for it\n"
    "  wait-file PATH       wait (up to 10 min) until PATH exists, printing what arrives\n";

struct Session {
  PtyLine *line = nullptr;
  Decoder decoder;
  std::vector<Message> pending;  // received, not yet consumed by a wait
  int answerTimeoutMs = 3000;
  Clock::time_point start = Clock::now();
};

double msSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void printLine(Session &s, const char *arrow, const std::string &bytes, const std::string &what) {
  std::printf("%9.1f %s %-9s %s\n", msSince(s.start), arrow, bytes.c_str(), what.c_str());
  std::fflush(stdout);
}

void send(Session &s, const std::vector<uint8_t> &bytes, const std::string &what) {
  s.line->write(bytes);
  printLine(s, "->", hex(bytes), what);
}

// Reads until the deadline, printing and queueing every complete message.
void receiveUntil(Session &s, Clock::time_point deadline) {
  for (uint8_t byte : s.line->read(deadline)) {
    if (auto m = s.decoder.feed(byte)) {
      printLine(s, "<-", hex(m->bytes), describe(*m));
      s.pending.push_back(*m);
    }
  }
}

// Waits for a message with the given command; earlier ones are dropped
// (the program's key monitor echoes keys it receives itself).
bool awaitCommand(Session &s, int command, int timeoutMs, Message *found = nullptr) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto it = std::find_if(s.pending.begin(), s.pending.end(),
                           [&](const Message &m) { return m.command == command; });
    if (it != s.pending.end()) {
      if (found) *found = *it;
      s.pending.erase(s.pending.begin(), it + 1);
      return true;
    }
    if (Clock::now() >= deadline) return false;
    receiveUntil(s, deadline);
  }
}

void forgetReceived(Session &s);

bool fail(const std::string &why) {
  std::fprintf(stderr, "talliver-device: %s\n", why.c_str());
  return false;
}

bool keystroke(Session &s, int command, const Key &key, const std::string &label) {
  forgetReceived(s);
  send(s, encode(command, true, key.scan, key.vk), "key " + label);
  return awaitCommand(s, KEY_DONE, s.answerTimeoutMs) || fail("no FC for key " + label);
}

bool setFlags(Session &s, int flags) {
  char what[32];
  std::snprintf(what, sizeof what, "set flags 0x%02X", flags);
  send(s, encode(MODIFIER_FLAGS, true, 0, flags), what);
  return true;
}

// Whatever arrived before a request is not its answer: the key monitor, for
// one, reports flag changes with the same message as the query reply.
void forgetReceived(Session &s) {
  receiveUntil(s, Clock::now());
  s.pending.clear();
}

bool queryFlags(Session &s, Message *reply) {
  forgetReceived(s);
  send(s, encode(QUERY_MODIFIERS, false), "query flags");
  return awaitCommand(s, MODIFIER_FLAGS, s.answerTimeoutMs, reply) || fail("no flags reply");
}

bool typeText(Session &s, const std::string &text) {
  for (char c : text) {
    auto key = keyForChar(c);
    if (!key) return fail(std::string("no key types '") + c + "'");
    if (key->shifted) setFlags(s, 0x03);
    if (!keystroke(s, KEY_STROKE, *key, std::string(1, c))) return false;
    if (key->shifted) setFlags(s, 0x00);
  }
  return true;
}

void printPercentiles(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  auto at = [&](double p) { return times[std::min(times.size() - 1, (size_t)(p * times.size()))]; };
  std::printf("latency write->FC over %zu keystrokes: p50 %.1f ms, p99 %.1f ms, max %.1f ms\n",
              times.size(), at(0.50), at(0.99), times.back());
}

// Microseconds on the host's raw monotonic clock: the clock Wine's
// QueryPerformanceCounter reads, so a Windows program's arrival times can be
// set against these write times.
long long rawMicroseconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC_RAW, &t);
  return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

bool latency(Session &s, int count) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause(0, 400);
  std::vector<double> times;
  const Key key = {0x7C, 0x64, false};  // F13: harmless wherever it lands
  for (int i = 0; i < count; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
    auto written = Clock::now();
    std::printf("write-time-us %lld\n", rawMicroseconds());
    if (!keystroke(s, KEY_STROKE, key, "F13")) return false;
    times.push_back(msSince(written));
  }
  printPercentiles(times);
  return true;
}

bool parseNumber(const std::string &text, int *value, int base = 10) {
  char *end;
  long v = std::strtol(text.c_str(), &end, base);
  if (text.empty() || *end) return false;
  *value = (int)v;
  return true;
}

bool runCommand(Session &s, const std::string &line) {
  std::istringstream in(line);
  std::string verb, arg;
  in >> verb;
  std::getline(in >> std::ws, arg);
  int n = 0;
  if (verb.empty() || verb[0] == '#') return true;
  if (verb == "identify") {
    int timeout = 30000;
    if (!arg.empty() && !parseNumber(arg, &timeout)) return fail("identify: bad time-out");
    send(s, encode(IDENTIFY, false), "identify");
    return awaitCommand(s, IDENTITY, timeout) || fail("no identity reply");
  }
  if (verb == "key" || verb == "syskey") {
    auto key = keyNamed(arg);
    if (!key) return fail("unknown key '" + arg + "'");
    return keystroke(s, verb == "key" ? KEY_STROKE : SYS_KEY_STROKE, *key, arg);
  }
  if (verb == "text") return typeText(s, arg);
  if (verb == "mods") return parseNumber(arg, &n, 16) ? setFlags(s, n) : fail("mods: bad byte");
  if (verb == "query") {
    Message reply;
    return queryFlags(s, &reply);
  }
  if (verb == "expect-flags") {
    Message reply;
    if (!parseNumber(arg, &n, 16)) return fail("expect-flags: bad byte");
    if (!queryFlags(s, &reply)) return false;
    char why[64];
    std::snprintf(why, sizeof why, "flags are 0x%02X, expected 0x%02X", reply.data2, n);
    return reply.data2 == n || fail(why);
  }
  if (verb == "raw") {
    std::vector<uint8_t> bytes;
    std::istringstream hexes(arg);
    for (std::string h; hexes >> h;) {
      if (!parseNumber(h, &n, 16) || n < 0 || n > 255) return fail("raw: bad byte " + h);
      bytes.push_back((uint8_t)n);
    }
    send(s, bytes, "raw");
    return true;
  }
  if (verb == "listen" || verb == "sleep") {
    if (!parseNumber(arg, &n)) return fail(verb + ": bad time");
    auto until = Clock::now() + std::chrono::milliseconds(n);
    while (Clock::now() < until) receiveUntil(s, until);
    return true;
  }
  if (verb == "latency") return parseNumber(arg, &n) && n > 0 ? latency(s, n) : fail("bad count");
  if (verb == "wait-file") {
    auto until = Clock::now() + std::chrono::minutes(10);
    while (access(arg.c_str(), F_OK) != 0) {
      if (Clock::now() >= until) return fail("no file " + arg);
      receiveUntil(s, Clock::now() + std::chrono::milliseconds(50));
    }
    return true;
  }
  if (verb == "run") {
    std::fflush(stdout);
    int status = std::system(arg.c_str());
    return status == 0 || fail("command failed: " + arg);
  }
  return fail("unknown command '" + verb + "'");
}

}  // namespace

int main(int argc, char **argv) {
  std::string link;
  int timeout = 3000;
  std::vector<std::string> commands;
  bool fromStdin = false;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    if (a == "--link" && i + 1 < argc)
      link = argv[++i];
    else if (a == "--timeout" && i + 1 < argc)
      timeout = std::atoi(argv[++i]);
    else if (a == "-")
      fromStdin = true;
    else if (a == "-h" || a == "--help")
      return std::fputs(USAGE, stdout), 0;
    else
      commands.push_back(a);
  }
  if (link.empty()) return std::fputs(USAGE, stderr), 2;

  try {
    PtyLine line(link);
    Session session;
    session.line = &line;
    session.answerTimeoutMs = timeout;
    std::printf("device: %s -> %s\n", link.c_str(), line.slaveName().c_str());
    std::fflush(stdout);
    if (fromStdin)
      for (std::string l; std::getline(std::cin, l);) commands.push_back(l);
    for (const std::string &command : commands)
      if (!runCommand(session, command)) return 1;
    return 0;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talliver-device: %s\n", e.what());
    return 2;
  }
}
