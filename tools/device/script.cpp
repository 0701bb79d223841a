// Script mode: the simulated device runs steps against the program, one a
// line ("key a", "mods 40"), from the command line or, with "-", from
// standard input as they arrive, each then followed by "step done: STEP".
// A script on the command line is checked whole before anything starts.
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <random>
#include <sstream>

#include "clock.h"
#include "line.h"
#include "modes.h"
#include "stop.h"

namespace device {

namespace {
// The simulated device's end of the line: the program's COM port (a fresh
// pty), the bytes sent to it (at 9600 8O1's pace with --line-rate), and its
// answers, read (at the same pace), decoded and printed a line a message.
// Every wait runs the tool's loop, which also keeps standard output moving
// and ends when a signal asks the run to stop. The steps it offers return
// why they failed, or "".
struct Simulator {
  Transcript &out;
  ProgramPort &port;
  Line line;
  bool paced;
  long timeoutMs;
  bool quiet = false;
  std::deque<Message> received;  // not yet passed over by a wait
  // The FCs: all of them, and those since the last check with when the
  // first and the last came (ms); the keystrokes sent and acknowledged.
  long fcs = 0, fcsSinceCheck = 0;
  double firstFcMs = 0, lastFcMs = 0;
  int keysSent = 0, keysAcked = 0;
  Decoder decoder;
  int64_t startUs = clockUs();

  Simulator(ProgramPort &port, Transcript &o, bool paced, long timeout)
      : out(o), port(port), line(o, nullptr, paced), paced(paced), timeoutMs(timeout) {
    line.programPort(&port, false);
    line.fromProgram = [this](const Bytes &bytes) {
      for (uint8_t byte : bytes) {
        auto m = decoder.feed(byte);
        if (!m) continue;
        say("<-", m->bytes, describe(*m, false));
        if (m->command == KEY_DONE) {
          fcs++, lastFcMs = (double)(clockUs() - startUs) / 1000;
          if (fcsSinceCheck++ == 0) firstFcMs = lastFcMs;
        }
        received.push_back(*m);
      }
    };
  }

  void say(const char *arrow, const Bytes &bytes, const std::string &what) {
    if (!quiet) out.line(transcriptLine(clockUs() - startUs, arrow, hex(bytes), what));
  }

  // Runs until `done` holds (true), or the deadline passes or a signal asks
  // the run to stop (false). `alsoFd`: a descriptor `done` reads, polled too.
  bool waitUntil(
      int64_t deadlineUs, const std::function<bool()> &done = [] { return false; },
      int alsoFd = -1) {
    for (;;) {
      if (done()) return true;
      if (stopSignal || clockUs() >= deadlineUs) return false;
      line.turn(deadlineUs, alsoFd);
    }
  }

  void send(const Bytes &bytes, const std::string &what) {
    line.toProgram(bytes);
    say("->", bytes, what);
  }

  // What came so far answers nothing sent after this.
  void forget() {
    line.turn(0);
    received.clear();
  }

  // Waits for the first message `wanted` picks, passing over those before
  // it; `seen`: the messages taken, the one waited for last.
  bool await(const std::function<bool(const Message &)> &wanted, long ms,
             std::vector<Message> *seen) {
    return waitUntil(clockUs() + ms * 1000, [&] {
      for (bool found = false; !found && !received.empty(); received.pop_front())
        seen->push_back(received.front()), found = wanted(seen->back());
      return !seen->empty() && wanted(seen->back());
    });
  }
  static std::function<bool(const Message &)> is(int command) {
    return [command](const Message &m) { return m.command == command; };
  }

  std::string identify(long ms) {
    forget();
    send(encode(IDENTIFY, false), "identify");
    std::vector<Message> seen;
    if (!await(is(IDENTITY), ms, &seen)) return "no identity reply";
    const Message &reply = seen.back();
    if (reply.data1 == IDENTITY_DATA1 && reply.data2 == IDENTITY_DATA2) return "";
    return format("identity %d, %d; the program's is %d, %d", reply.data1, reply.data2,
                  IDENTITY_DATA1, IDENTITY_DATA2);
  }

  std::string keystroke(const Key &key, const std::string &label) {
    std::vector<Message> seen;
    forget();
    send(encode(KEY_STROKE, true, key.scan, key.vk), "key " + label);
    keysSent++;
    if (!await(is(KEY_DONE), timeoutMs, &seen)) return "no FC for key " + label;
    keysAcked++;
    return "";
  }

  void setFlags(int flags) {
    send(encode(MODIFIER_FLAGS, true, 0, flags), format("set flags 0x%02X", flags));
  }

  // The program's key monitor may send the very bytes of a query's answer
  // unasked, whenever its own window has the focus. So the query goes with
  // an identify: the program answers both in order, and a report written
  // between them (when they fall into two poll cycles) shows the flags as
  // they are after the answer, so the flags message right before the
  // identity serves as the answer.
  std::string readFlags(int *flags) {
    std::vector<Message> seen;
    forget();
    send(encode(QUERY_FLAGS, false), "query flags");
    send(encode(IDENTIFY, false), "identify");
    if (!await(is(IDENTITY), timeoutMs, &seen)) return "no answer to the query";
    if (seen.size() < 2 || seen[seen.size() - 2].command != MODIFIER_FLAGS)
      return "the identity came without the flags right before it";
    *flags = seen[seen.size() - 2].data2;
    return "";
  }

  // Waits until the program has taken every byte sent.
  std::string drain() {
    if (waitUntil(clockUs() + timeoutMs * 1000, [&] { return line.programTookAll(); })) return "";
    return format(
        "%zu bytes sent were never taken by the program: it did not read its port "
        "within %ld ms",
        line.pendingForProgram() + (size_t)port.unread(), timeoutMs);
  }
};

const Key F13 = {0x7C, 0x64, false};  // harmless wherever it lands

std::string latency(Simulator &s, long count) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> pause(0, 400);
  Latencies times;
  for (long i = 0; i < count; i++) {
    s.waitUntil(clockUs() + pause(random) * 1000);
    int64_t written = clockUs();
    // The host's raw clock, which Wine's QueryPerformanceCounter reads, so
    // that a Windows program's times can be set against the device's.
    timespec raw;
    clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
    s.out.line(format("write-time-us %lld", raw.tv_sec * 1000000LL + raw.tv_nsec / 1000), true);
    std::string why = s.keystroke(F13, "F13");
    if (!why.empty()) return why;
    times.add(clockUs() - written);
  }
  s.out.line(format("latency write->FC over %ld keystrokes: p50 %s, p99 %s, max %s", times.count(),
                    times.percentile(0.50).c_str(), times.percentile(0.99).c_str(),
                    times.largest().c_str()),
             true);
  return "";
}

// Mixed traffic at a device's pace: keystrokes that wait for their FC,
// queries, identify requests and Scroll Lock changes.
std::string soak(Simulator &s, long seconds) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> pause(0, 300), pick(0, 9);
  Latencies latencies;
  int keys = 0, queries = 0, answered = 0, identifies = 0, identities = 0, requests = 0, flags;
  bool scrollLock = false;
  s.quiet = true;
  for (int64_t end = clockUs() + seconds * 1000000; clockUs() < end && !stopSignal;) {
    s.waitUntil(clockUs() + pause(random) * 1000);
    int choice = pick(random);
    int64_t written = clockUs();
    if (choice < 7 && ++keys && s.keystroke(F13, "F13").empty()) latencies.add(clockUs() - written);
    if (choice == 7 && ++queries && s.readFlags(&flags).empty()) answered++;
    if (choice == 8 && ++identifies && s.identify(s.timeoutMs).empty()) identities++;
    if (choice == 9) requests++, s.setFlags((scrollLock = !scrollLock) ? 0x10 : 0x00);
  }
  if (scrollLock) s.setFlags(0x00);
  s.quiet = false;
  s.out.line(format("soak: %ld s, %d keystrokes, %ld FC, %ld lost; FC latency p50 %s, p99 %s; "
                    "%d queries, %d answered; %d identify, %d answered; %d flag requests",
                    seconds, keys, latencies.count(), keys - latencies.count(),
                    latencies.percentile(0.50).c_str(), latencies.percentile(0.99).c_str(), queries,
                    answered, identifies, identities, requests),
             true);
  return "";
}

// One byte value, over and over, at 9600 8O1's rate, counting the answers.
std::string flood(Simulator &s, long ms, uint8_t value) {
  long sent = 0, answers = 0;
  std::vector<long> perSecond((size_t)(ms / 1000 + 2), 0);
  s.quiet = true;
  for (int64_t start = clockUs(), now = start; now - start < ms * 1000 && !stopSignal;
       now = clockUs()) {
    // Unpaced, no more than the line takes at once; paced, a few bytes ahead of it.
    long due = (long)((double)(now - start) / LINE_BYTE_US) - sent;
    long waiting = (long)s.line.pendingForProgram();
    long n = std::min(due, s.paced ? 4 - waiting : waiting == 0 ? due : 0);
    if (n > 0) s.line.toProgram(Bytes((size_t)n, value)), sent += n;
    s.waitUntil(clockUs() + 2000);
    perSecond[std::min(perSecond.size() - 1, (size_t)((clockUs() - start) / 1000000))] +=
        (long)s.received.size();
    answers += (long)s.received.size();
    s.received.clear();
  }
  s.quiet = false;
  std::string line =
      format("flood: %ld bytes of 0x%02X in %ld ms, %ld answers; answers each second:", sent, value,
             ms, answers);
  for (size_t i = 0; i + 1 < perSecond.size(); i++) line += format(" %ld", perSecond[i]);
  s.out.line(line, true);
  return "";
}

std::string text(Simulator &s, const std::string &chars) {
  std::string why;
  for (size_t i = 0; i < chars.size() && why.empty(); i++) {
    if (!keyForChar(chars[i])->shifted) {
      why = s.keystroke(*keyForChar(chars[i]), chars.substr(i, 1));
      continue;
    }
    // A flag request sets all eight bits: Shift goes on over the flags as
    // they are (Num Lock and Insert left as they were), and they are put
    // back after the characters that need it.
    int flags;
    if (!(why = s.readFlags(&flags)).empty()) return why;
    s.setFlags(flags | 0x03);
    for (; i < chars.size() && keyForChar(chars[i])->shifted && why.empty(); i++)
      why = s.keystroke(*keyForChar(chars[i]), chars.substr(i, 1));
    s.setFlags(flags);
    i--;
  }
  return why;
}

// A shell command, waited for in the loop, so that what the program sends
// meanwhile is printed and a signal still ends the run. It runs in a process
// group of its own, its input from /dev/null. A signal ends the group:
// SIGTERM, then SIGKILL once the shell has gone or a grace has passed, and
// only then is the shell reaped: until it is, its pid (the group's id) can
// belong to no other process, so no signal reaches a stranger.
std::string runShell(Simulator &s, const std::string &command) {
  const int64_t GRACE_US = 300000;
  s.out.write();
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_RDONLY);
    if (null > STDIN_FILENO) dup2(null, STDIN_FILENO), close(null);
    std::signal(SIGPIPE, SIG_DFL);
    std::signal(SIGXFSZ, SIG_DFL);
    execl("/bin/sh", "sh", "-c", command.c_str(), (char *)nullptr);
    _exit(127);
  }
  if (pid < 0) return std::string("cannot run a shell: ") + std::strerror(errno);
  setpgid(pid, pid);  // the group exists before anything signals it, whoever runs first
  auto ended = [pid] {
    siginfo_t info = {};
    return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
  };
  bool done = s.waitUntil(INT64_MAX, ended);
  if (!done) {
    kill(-pid, SIGTERM);
    for (int64_t until = clockUs() + GRACE_US; !ended() && clockUs() < until;) usleep(10000);
    kill(-pid, SIGKILL);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!done) return "stopped";
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "command failed: " + command;
}

// What a step's argument may be.
enum class Syntax {
  NONE,
  OPTIONAL_MS,
  KEY,
  TEXT,
  HEX,
  HEXES,
  COUNT_OPTIONAL_MS,
  MS,
  COUNT,
  MS_HEX,
  ANY
};

// Each step: its word, its argument's syntax and as --help shows it, and what it does.
const struct {
  std::string name;
  Syntax syntax;
  std::string arguments, help;
} VERBS[] = {
    {"identify", Syntax::OPTIONAL_MS, "[MS]",
     "send the identify request, wait for the identity (default 30 s)"},
    {"key", Syntax::KEY, "NAME|VK:SCAN",
     "one keystroke (a, F4, enter, 0x41:0x1E); waits for its FC"},
    {"text", Syntax::TEXT, "STRING",
     "type the characters, Shift held where they need it, locks left alone"},
    {"mods", Syntax::HEX, "HEX", "set the lock and modifier keys to this flags byte"},
    {"query", Syntax::NONE, "", "ask for the flags byte (with an identify, to tell the answer)"},
    {"expect-flags", Syntax::HEX, "HEX", "ask for the flags byte; fail unless it is HEX"},
    {"expect", Syntax::HEXES, "HEX...", "wait for the program to send this message; fail if not"},
    {"expect-fcs", Syntax::COUNT_OPTIONAL_MS, "N [MS]",
     "fail unless N FCs came since the last check (first to last at least MS)"},
    {"expect-no-loss", Syntax::NONE, "", "fail unless every keystroke sent got its FC"},
    {"save-counts", Syntax::ANY, "FILE", "write the keystrokes sent and FCs received to FILE"},
    {"raw", Syntax::HEXES, "HEX...", "send bytes exactly as given"},
    {"listen", Syntax::MS, "MS", "print what the program sends for MS milliseconds"},
    {"sleep", Syntax::MS, "MS", "wait (printing what arrives meanwhile)"},
    {"latency", Syntax::COUNT, "N", "N keystrokes at random moments; print write-to-FC times"},
    {"soak", Syntax::COUNT, "SECONDS", "mixed traffic at a device's pace; print what was lost"},
    {"flood", Syntax::MS_HEX, "MS HEX",
     "send one byte at 9600 baud's line rate; count the answers"},
    {"run", Syntax::ANY, "SHELL-COMMAND", "run a command on this machine and wait for it"},
    {"wait-file", Syntax::ANY, "PATH",
     "wait (up to 10 min) until PATH exists, printing what arrives"},
};

// Whether the argument has the syntax: a loop over it, never a recursion,
// so that a step of any length is checked in its length's time.
bool fits(Syntax syntax, const std::string &arg) {
  std::vector<std::string> w;
  std::istringstream words(arg);
  for (std::string word; words >> word;) w.push_back(word);
  auto ms = [](const std::string &t, long least = 0) {
    long v;
    return parseWhole(t, least, 99999999, &v);
  };
  Bytes bytes;
  switch (syntax) {
    case Syntax::NONE: return arg.empty();
    case Syntax::OPTIONAL_MS: return arg.empty() || ms(arg);
    case Syntax::KEY: return keyNamed(arg).has_value();
    case Syntax::TEXT:
    case Syntax::ANY: return !arg.empty();
    case Syntax::HEX: return w.size() == 1 && parseHexBytes(arg, &bytes);
    case Syntax::HEXES: return parseHexBytes(arg, &bytes);
    case Syntax::COUNT_OPTIONAL_MS:
      return (w.size() == 1 || w.size() == 2) && ms(w[0]) && ms(w.back());
    case Syntax::MS: return ms(arg);
    case Syntax::COUNT: return ms(arg, 1);
    case Syntax::MS_HEX: return w.size() == 2 && ms(w[0], 1) && parseHexBytes(w[1], &bytes);
  }
  return false;
}

// A character no key types, named whole: a UTF-8 character as it is, any
// other byte by its value.
std::string untypable(const std::string &text) {
  for (size_t i = 0; i < text.size(); i++) {
    unsigned char c = (unsigned char)text[i];
    if (keyForChar((char)c)) continue;
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
    bool whole = length > 1 && i + length <= text.size();
    for (size_t k = 1; whole && k < length; k++)
      whole = ((unsigned char)text[i + k] & 0xC0) == 0x80;
    return whole || std::isprint(c) ? "no key types '" + text.substr(i, whole ? length : 1) + "'"
                                    : format("no key types the byte 0x%02X", c);
  }
  return "";
}

// A step as an error quotes it: whole when short, else its start and its length.
std::string quoted(const std::string &line) {
  if (line.size() <= 60) return "'" + line + "'";
  size_t cut = 40;
  while (cut > 0 && ((unsigned char)line[cut] & 0xC0) == 0x80) cut--;  // not inside a character
  return format("'%s...' (%zu characters)", line.substr(0, cut).c_str(), line.size());
}

// Runs a step that has been checked; returns why it failed, or "".
std::string run(Simulator &s, const std::string &name, const std::string &arg) {
  long a = 0, b = 0;
  std::istringstream(arg) >> a >> b;
  Bytes bytes;
  parseHexBytes(arg, &bytes);
  int flags = 0;
  std::string why;
  if (name == "identify") return s.identify(arg.empty() ? 30000 : a);
  if (name == "key") return s.keystroke(*keyNamed(arg), arg);
  if (name == "text") return text(s, arg);
  if (name == "mods") s.setFlags(bytes[0]);
  if (name == "query" || name == "expect-flags") why = s.readFlags(&flags);
  if (name == "expect-flags" && why.empty() && flags != bytes[0])
    why = format("flags are 0x%02X, expected 0x%02X", flags, bytes[0]);
  if (name == "expect") {
    // The program's messages until one is exactly these bytes; the others are passed over.
    std::vector<Message> seen;
    if (s.await([&](const Message &m) { return m.bytes == bytes; }, s.timeoutMs, &seen)) return "";
    for (const Message &m : seen) why += (why.empty() ? "" : ", ") + hex(m.bytes);
    why = format("expected %s within %ld ms; the program sent %s", hex(bytes).c_str(), s.timeoutMs,
                 why.empty() ? "nothing" : why.c_str());
  }
  if (name == "expect-fcs") {
    s.line.turn(0);
    long came = s.fcsSinceCheck;
    double spread = came == 0 ? 0 : s.lastFcMs - s.firstFcMs;
    s.fcsSinceCheck = 0;
    if (came != a) return format("expected %ld FCs, %ld came", a, came);
    if (spread < (double)b)
      why = format("%ld FCs came within %.0f ms, expected at least %ld ms apart", a, spread, b);
  }
  if (name == "expect-no-loss" && s.keysSent > s.keysAcked)
    why = format("%d of %d keystrokes got no FC", s.keysSent - s.keysAcked, s.keysSent);
  if (name == "save-counts") {
    std::string counts =
        format("keystrokes %d\nacknowledged %d\nfcs %ld\n", s.keysSent, s.keysAcked, s.fcs);
    int fd = open(arg.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write(fd, counts.data(), counts.size()) == (ssize_t)counts.size();
    if ((fd >= 0 && close(fd) != 0) || !ok)
      why = "cannot write " + arg + ": " + std::strerror(errno);
  }
  if (name == "raw") s.send(bytes, "raw");
  if (name == "listen" || name == "sleep") s.waitUntil(clockUs() + a * 1000);
  if (name == "latency") return latency(s, a);
  if (name == "soak") return soak(s, a);
  if (name == "flood" && parseHexBytes(arg.substr(arg.rfind(' ') + 1), &bytes))
    return flood(s, a, bytes[0]);
  if (name == "run") return runShell(s, arg);
  if (name == "wait-file" &&
      !s.waitUntil(clockUs() + 600000000LL, [&] { return access(arg.c_str(), F_OK) == 0; }))
    why = "no file " + arg + " within 10 min";
  return why;
}

// Checks a step and, with a simulator, runs it. A bad step is a usage error,
// a failed one a failure; a comment or an empty line does nothing.
Outcome step(Simulator *s, const std::string &line) {
  std::istringstream words(line);
  std::string name, arg, why;
  words >> name;
  std::getline(words >> std::ws, arg);
  if (!arg.empty() && arg.back() == '\r') arg.pop_back();  // a line from Windows
  if (name != "text") arg.erase(arg.find_last_not_of(" \t") + 1);
  if (name.empty() || name[0] == '#') return Outcome();
  auto verb =
      std::find_if(std::begin(VERBS), std::end(VERBS), [&](auto &v) { return v.name == name; });
  if (verb == std::end(VERBS)) return usage(quoted(line) + ": unknown command '" + name + "'");
  if (name == "text") why = untypable(arg);
  if (why.empty() && !fits(verb->syntax, arg))
    why = name + " takes " + (verb->arguments.empty() ? "no argument" : verb->arguments);
  if (!why.empty()) return usage(quoted(line) + ": " + why);
  if (!s) return Outcome();
  why = run(*s, name, arg);
  if (stopSignal) why = format("stopped (%s) during ", strsignal(stopSignal)) + quoted(line);
  return why.empty() ? Outcome() : failure(why);
}

// The next line of standard input, waited for in the loop; false at its end.
bool nextLine(Simulator &s, std::string *line) {
  static std::string buffer;
  static bool ended = false;
  for (;;) {
    size_t end = buffer.find('\n');
    if (end != std::string::npos || (ended && !buffer.empty())) {
      *line = buffer.substr(0, end);
      buffer.erase(0, end == std::string::npos ? end : end + 1);
      return true;
    }
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    if (ended || !s.waitUntil(
                     INT64_MAX, [&] { return poll(&p, 1, 0) > 0; }, STDIN_FILENO))
      return false;
    char chunk[4096];
    ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n > 0) buffer.append(chunk, (size_t)n);
    ended = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
  }
}
}  // namespace

std::string stepHelp() {
  std::string help;
  for (const auto &v : VERBS)
    help += format("  %-21s%s\n", (v.name + (v.arguments.empty() ? "" : " ") + v.arguments).c_str(),
                   v.help.c_str());
  return help;
}

Outcome runScript(const Options &o) {
  for (const std::string &line : o.steps) {
    Outcome checked = step(nullptr, line);
    if (checked.code != EXIT_PASSED) return checked;
  }
  Transcript out;
  Outcome result;
  {
    ProgramPort port;
    std::string why;
    if (!port.make(o.link, false, &why)) return usage(why);
    Simulator s(port, out, o.lineRate, o.timeoutMs);
    out.line("device: " + o.link + " -> " + port.slave + (o.lineRate ? " (paced as 9600 8O1)" : ""),
             true);
    for (size_t i = 0; i < o.steps.size() && result.code == EXIT_PASSED; i++)
      result = step(&s, o.steps[i]);
    for (std::string line; o.fromStdin && result.code == EXIT_PASSED && nextLine(s, &line);) {
      result = step(&s, line);
      if (result.code == EXIT_PASSED) out.line("step done: " + line, true);
    }
    if (result.code == EXIT_PASSED && stopSignal)
      result = failure(format("stopped (%s) waiting for a step", strsignal(stopSignal)));
    if (result.code == EXIT_PASSED && !(why = s.drain()).empty()) result = failure(why);
  }  // the link goes before the wait for standard output
  return out.finish(result);
}

}  // namespace device
