#include "script.h"

#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include <unistd.h>

#include "measure.h"
#include "numbers.h"

namespace device {

namespace {
// Whole numbers (times, counts) and hex bytes, parsed strictly: "5x" is no number.
bool parseNumber(const std::string &text, int *value) {
  long v;
  if (!parseWhole(text, 0, 24L * 3600 * 1000, &v)) return false;
  *value = (int)v;
  return true;
}

bool parseByte(const std::string &text, int *value) { return parseHexByte(text, value); }

// Splits "A B" into its first word and the rest.
void splitFirst(const std::string &arg, std::string *first, std::string *rest) {
  std::istringstream in(arg);
  in >> *first;
  std::getline(in >> std::ws, *rest);
}

bool identify(Session &s, const std::string &arg) {
  int timeout = 30000;
  if (!arg.empty() && !parseNumber(arg, &timeout)) return fail("identify: bad time-out");
  return requestIdentity(s, timeout);
}

bool key(Session &s, const std::string &arg, int command) {
  auto k = keyNamed(arg);
  if (!k) return fail("unknown key '" + arg + "'");
  return keystroke(s, command, *k, arg);
}

bool text(Session &s, const std::string &arg) {
  for (char c : arg) {
    auto k = keyForChar(c);
    if (!k) return fail(std::string("no key types '") + c + "'");
    if (k->shifted) setFlags(s, 0x03);
    if (!keystroke(s, KEY_STROKE, *k, std::string(1, c))) return false;
    if (k->shifted) setFlags(s, 0x00);
  }
  return true;
}

bool mods(Session &s, const std::string &arg) {
  int flags;
  if (!parseByte(arg, &flags)) return fail("mods: bad byte '" + arg + "'");
  setFlags(s, flags);
  return true;
}

bool query(Session &s, const std::string &) {
  Message reply;
  return queryFlags(s, &reply);
}

bool expectFlags(Session &s, const std::string &arg) {
  int expected;
  Message reply;
  if (!parseByte(arg, &expected)) return fail("expect-flags: bad byte '" + arg + "'");
  if (!queryFlags(s, &reply)) return false;
  char why[64];
  std::snprintf(why, sizeof why, "flags are 0x%02X, expected 0x%02X", reply.data2, expected);
  return reply.data2 == expected || fail(why);
}

bool parseBytes(const std::string &arg, std::vector<uint8_t> *bytes) {
  std::istringstream hexes(arg);
  int n;
  for (std::string h; hexes >> h;) {
    if (!parseByte(h, &n)) return fail("bad byte " + h);
    bytes->push_back((uint8_t)n);
  }
  return !bytes->empty() || fail("no bytes");
}

// Waits for the program to send exactly these bytes as one message; what
// came before it is passed over, and named when it never comes.
bool expectMessage(Session &s, const std::string &arg) {
  std::vector<uint8_t> wanted;
  if (!parseBytes(arg, &wanted)) return false;
  std::string seen;
  auto deadline = Clock::now() + std::chrono::milliseconds(s.answerTimeoutMs);
  for (;;) {
    while (!s.pending.empty()) {
      Message m = s.pending.front();
      s.pending.erase(s.pending.begin());
      if (m.bytes == wanted) return true;
      seen += (seen.empty() ? "" : ", ") + hex(m.bytes);
    }
    if (Clock::now() >= deadline)
      return fail("expected " + hex(wanted) + " within " + std::to_string(s.answerTimeoutMs) +
                  " ms; the program sent " + (seen.empty() ? "nothing" : seen));
    receiveUntil(s, deadline);
  }
}

// Exactly N FCs since the start or the previous check, and, when asked,
// at least MS from the first to the last.
bool expectFcs(Session &s, const std::string &arg) {
  std::string count, span;
  splitFirst(arg, &count, &span);
  int n, minSpan = 0;
  if (!parseNumber(count, &n) || n < 0 || (!span.empty() && !parseNumber(span, &minSpan)))
    return fail("expect-fcs: N [MS]");
  receiveUntil(s, Clock::now());
  std::vector<double> times(s.fcTimes.begin() + (long)s.fcsChecked, s.fcTimes.end());
  s.fcsChecked = s.fcTimes.size();
  if ((int)times.size() != n)
    return fail("expected " + std::to_string(n) + " FCs, " + std::to_string(times.size()) +
                " came");
  double spread = n > 0 ? times.back() - times.front() : 0;
  char why[96];
  std::snprintf(why, sizeof why, "%d FCs came within %.0f ms, expected at least %d ms apart", n,
                spread, minSpan);
  return spread >= minSpan || fail(why);
}

// Every keystroke sent so far got its FC.
bool expectNoLoss(Session &s, const std::string &) {
  int lost = s.keystrokesSent - s.keystrokesAcknowledged;
  return lost == 0 || fail(std::to_string(lost) + " of " + std::to_string(s.keystrokesSent) +
                           " keystrokes got no FC");
}

// Counts for a test to compare with what arrived elsewhere, one
// "name value" pair a line.
bool saveCounts(Session &s, const std::string &arg) {
  std::FILE *out = std::fopen(arg.c_str(), "w");
  if (!out) return fail("cannot write " + arg);
  std::fprintf(out, "keystrokes %d\nacknowledged %d\nfcs %zu\n", s.keystrokesSent,
               s.keystrokesAcknowledged, s.fcTimes.size());
  return std::fclose(out) == 0 || fail("cannot write " + arg);
}

bool raw(Session &s, const std::string &arg) {
  std::vector<uint8_t> bytes;
  if (!parseBytes(arg, &bytes)) return false;
  send(s, bytes, "raw");
  return true;
}

bool listen(Session &s, const std::string &arg) {
  int ms;
  if (!parseNumber(arg, &ms)) return fail("bad time '" + arg + "'");
  auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < until) receiveUntil(s, until);
  return true;
}

bool latency(Session &s, const std::string &arg) {
  int n;
  return parseNumber(arg, &n) && n > 0 ? measureLatency(s, n) : fail("latency: bad count");
}

bool soakFor(Session &s, const std::string &arg) {
  int seconds;
  return parseNumber(arg, &seconds) && seconds > 0 ? soak(s, seconds) : fail("soak: bad time");
}

bool floodWith(Session &s, const std::string &arg) {
  std::string ms, byte;
  splitFirst(arg, &ms, &byte);
  int n, b;
  if (!parseNumber(ms, &n) || n <= 0 || !parseByte(byte, &b)) return fail("flood: MS HEX");
  return flood(s, n, b);
}

bool runShell(Session &, const std::string &arg) {
  std::fflush(stdout);
  return std::system(arg.c_str()) == 0 || fail("command failed: " + arg);
}

bool waitFile(Session &s, const std::string &arg) {
  auto until = Clock::now() + std::chrono::minutes(10);
  while (access(arg.c_str(), F_OK) != 0) {
    if (Clock::now() >= until) return fail("no file " + arg);
    receiveUntil(s, Clock::now() + std::chrono::milliseconds(50));
  }
  return true;
}

struct ScriptCommand {
  const char *name;
  const char *arguments;
  bool (*action)(Session &, const std::string &);
  const char *help;
};

const ScriptCommand COMMANDS[] = {
    {"identify", "[MS]", identify,
     "send the identify request, wait for the identity (default 30 s)"},
    {"key", "NAME|VK:SCAN", [](Session &s, const std::string &a) { return key(s, a, KEY_STROKE); },
     "one keystroke (a, F4, enter, 0x41:0x1E); waits for its FC"},
    {"syskey", "NAME|VK:SCAN",
     [](Session &s, const std::string &a) { return key(s, a, SYS_KEY_STROKE); },
     "the same as a system keystroke"},
    {"text", "STRING", text, "type the characters, holding Shift where they need it"},
    {"mods", "HEX", mods, "set the lock and modifier keys to this flags byte"},
    {"query", "", query, "ask for the flags byte and print it"},
    {"expect-flags", "HEX", expectFlags, "ask for the flags byte; fail unless it is HEX"},
    {"expect", "HEX...", expectMessage, "wait for the program to send this message; fail if not"},
    {"expect-fcs", "N [MS]", expectFcs,
     "fail unless N FCs came since the last check (first to last at least MS)"},
    {"expect-no-loss", "", expectNoLoss, "fail unless every keystroke sent got its FC"},
    {"save-counts", "FILE", saveCounts, "write the keystrokes sent and FCs received to FILE"},
    {"raw", "HEX...", raw, "send bytes exactly as given"},
    {"listen", "MS", listen, "print what the program sends for MS milliseconds"},
    {"sleep", "MS", listen, "wait (printing what arrives meanwhile)"},
    {"latency", "N", latency, "N keystrokes at random moments; print write-to-FC times"},
    {"soak", "SECONDS", soakFor, "mixed traffic at a device's pace; print what was lost"},
    {"flood", "MS HEX", floodWith, "send one byte at 9600 baud's line rate; count the answers"},
    {"run", "SHELL-COMMAND", runShell, "run a command on this machine and wait for it"},
    {"wait-file", "PATH", waitFile, "wait (up to 10 min) until PATH exists, printing what arrives"},
};
}  // namespace

bool runCommand(Session &s, const std::string &line) {
  std::string verb, arg;
  splitFirst(line, &verb, &arg);
  if (verb.empty() || verb[0] == '#') return true;
  for (const ScriptCommand &c : COMMANDS)
    if (verb == c.name) return c.action(s, arg);
  return fail("unknown command '" + verb + "'");
}

void printCommandHelp(std::FILE *out) {
  for (const ScriptCommand &c : COMMANDS) {
    std::string usage = std::string(c.name) + (*c.arguments ? " " : "") + c.arguments;
    std::fprintf(out, "  %-21s%s\n", usage.c_str(), c.help);
  }
}

}  // namespace device
