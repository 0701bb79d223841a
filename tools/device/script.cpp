// Script mode: the device, played against the program, runs steps, one a
// line ("key a", "mods 40"), from the command line or, with "-", from
// standard input as they arrive, each then followed by "step done: STEP".
// A script on the command line is checked whole before anything starts.
#include <fcntl.h>
#include <poll.h>
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
#include "keys.h"
#include "line.h"
#include "modes.h"
#include "stop.h"

namespace device {

namespace {
const Key F13 = {0x64, 0x7C, 0};    // harmless wherever it lands
const size_t MOST_RECEIVED = 4096;  // messages kept for a wait to pass over
// How long an answer to a query tells the flags: long enough for the next
// key queued behind a keystroke (it goes as soon as the FC comes, with the
// answer), far shorter than a user's hand on Caps Lock.
const int64_t FRESH_US = 100000;

// Messages written together, in one write, each with its transcript words.
using Batch = std::vector<std::pair<Bytes, std::string>>;
const Batch QUERY = {{encode(QUERY_FLAGS, false), "query flags"},
                     {encode(IDENTIFY, false), "identify"}};

Batch::value_type request(int flags) {
  Message m;
  m.command = MODIFIER_FLAGS, m.data2 = (uint8_t)flags;
  return {encode(MODIFIER_FLAGS, true, 0, flags), describe(m, true)};
}

// The program answers a query and an identify sent together in order, and
// its key monitor's reports never come between the two: the flags message
// right before the last identity is the answer.
std::optional<int> answerIn(const std::vector<Message> &seen) {
  for (size_t i = seen.size(); i-- > 1;)
    if (seen[i].command == IDENTITY)
      return seen[i - 1].command == MODIFIER_FLAGS ? std::optional<int>(seen[i - 1].data2)
                                                   : std::nullopt;
  return std::nullopt;
}

bool isLetter(const Key &key) { return key.vk >= 'A' && key.vk <= 'Z'; }

// The held keys a key is typed with: its own modifiers, with Shift flipped
// for a letter typed alone while Caps Lock is on (Shift inverts Caps Lock
// for letters). A chord is the same chord whatever the lock.
int wanted(const Key &key, int flags) {
  bool flip = isLetter(key) && !(key.modifiers & (CTRL | ALT)) && (flags & CAPS_LOCK);
  return key.modifiers ^ (flip ? SHIFT : 0);
}

// A step's argument, read by its syntax: its numbers in order, its bytes,
// its key, and the argument as written.
struct Args {
  long n[2] = {0, -1};
  Bytes bytes;
  Key key = F13;
  std::string text;
};

// The played device's end of the line: the program's COM port (a fresh pty),
// the bytes sent to it (at 9600 8O1's pace with --line-rate), and its
// answers, read (at the same pace), decoded and printed a line a message.
// Every wait runs the tool's loop, which also keeps standard output moving
// and ends when a signal asks the run to stop. With --record, what crosses
// also goes to a view, as in the tap, for the record. Each action, a step's
// among them, returns why it failed, or "".
struct Player {
  Transcript &out;
  ProgramPort &port;
  Line line;
  View *view;  // with --record
  bool paced, quiet = false;
  long timeoutMs;
  std::deque<Message> received;  // not yet passed over by a wait
  // The FCs: all of them, and those since the last check with when the
  // first and the last came (ms); the keystrokes sent and acknowledged.
  long fcs = 0, fcsSinceCheck = 0, keysSent = 0, keysAcked = 0;
  double firstFcMs = 0, lastFcMs = 0;
  // The flags as the program last answered a query, or as the last closing
  // request set them, and when that answer came (-1: none fresh to go by).
  int flags = 0;
  int64_t flagsUs = -1;
  Batch owed;  // a closing request, written with whatever goes next
  Decoder decoder;
  int64_t startUs = clockUs();

  Player(ProgramPort &p, Transcript &o, View *recorded, bool pacedLine, long timeout)
      : out(o),
        port(p),
        line(o, nullptr, pacedLine),
        view(recorded),
        paced(pacedLine),
        timeoutMs(timeout) {
    line.programPort(&port, false);
    line.fromProgram = [this](const Bytes &bytes) {
      if (view) view->bytes(Side::Program, bytes, stampUs());
      for (uint8_t byte : bytes) {
        auto m = decoder.feed(byte);
        if (!m) continue;
        say("<-", m->bytes, describe(*m, false));
        if (m->command == KEY_DONE) fcs++, lastFcMs = (double)(clockUs() - startUs) / 1000;
        if (m->command == KEY_DONE && fcsSinceCheck++ == 0) firstFcMs = lastFcMs;
        if (received.size() == MOST_RECEIVED) received.pop_front();
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
  bool pause(long ms) { return waitUntil(clockUs() + ms * 1000); }

  void toProgram(const Bytes &bytes) {
    line.toProgram(bytes);
    if (view) view->bytes(Side::Device, bytes, stampUs());
  }
  void send(const Batch &batch) {
    Bytes all;
    for (const auto &m : batch) all.insert(all.end(), m.first.begin(), m.first.end());
    toProgram(all);
    for (const auto &m : batch) say("->", m.first, m.second);
  }
  void send(const Bytes &bytes, const std::string &what) { send({{bytes, what}}); }
  // What was to go with the next write, and then nothing.
  Batch takeOwed() {
    Batch batch;
    return batch.swap(owed), batch;
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
    std::vector<Message> seen;
    forget();
    send(encode(IDENTIFY, false), "identify");
    if (!await(is(IDENTITY), ms, &seen)) return "no identity reply";
    const Message &reply = seen.back();
    if (reply.data1 == IDENTITY_DATA1 && reply.data2 == IDENTITY_DATA2) return "";
    return format("identity %d, %d; the program's is %d, %d", reply.data1, reply.data2,
                  IDENTITY_DATA1, IDENTITY_DATA2);
  }

  // The keystroke after `batch`, in one write; `seen`: what came up to its FC.
  std::string keystroke(const Key &key, const std::string &label, Batch batch = {},
                        std::vector<Message> *seen = nullptr) {
    std::vector<Message> own;
    forget();
    batch.push_back({encode(KEY_STROKE, true, key.scan, key.vk), "key " + label});
    send(batch);
    keysSent++;
    if (!await(is(KEY_DONE), timeoutMs, seen ? seen : &own)) return "no FC for key " + label;
    return keysAcked++, "";
  }

  void setFlags(int to) {
    send(encode(MODIFIER_FLAGS, true, 0, to), describe({MODIFIER_FLAGS, 0, (uint8_t)to, {}}, true));
    flagsUs = -1;
  }

  // The program's key monitor may send the very bytes of a query's answer
  // unasked, whenever its own window has the focus. So the query goes with
  // an identify, and the answer is told by its place (answerIn).
  std::string readFlags() {
    std::vector<Message> seen;
    forget();
    Batch batch = takeOwed();
    batch.insert(batch.end(), QUERY.begin(), QUERY.end());
    send(batch);
    if (!await(is(IDENTITY), timeoutMs, &seen)) return "no answer to the query";
    std::optional<int> answer = answerIn(seen);
    if (!answer) return "the identity came without the flags right before it";
    return flags = *answer, flagsUs = clockUs(), "";
  }

  // Types a key as written, whatever the user left the locks and held keys
  // at. A letter or a key with modifiers needs the flags, fresh: the held
  // keys it wants are requested with the locks as read, only where they
  // differ from those held, so no lock key is ever pressed. The query goes
  // with every keystroke, and its answer, from the keystroke's own tick,
  // gives the closing request and the next key their flags at no cost of a
  // tick. The closing request releases what the opening pressed, and
  // presses nothing it released: the user may have let go of it meanwhile,
  // and the program would hold it down (the keyboard's repeat puts it back
  // while the user still holds it). It goes with the next key, or at the
  // step's end (sendOwed).
  std::string type(const Key &key, const std::string &label) {
    bool needsFlags = isLetter(key) || key.modifiers;
    if (needsFlags && (flagsUs < 0 || clockUs() - flagsUs > FRESH_US))
      if (std::string why = readFlags(); !why.empty()) return why;
    int changed = needsFlags ? wanted(key, flags) ^ (flags & HELD) : 0;
    Batch batch = takeOwed();
    if (changed) batch.push_back(request((flags & LOCKS) | wanted(key, flags)));
    batch.insert(batch.end(), QUERY.begin(), QUERY.end());
    std::vector<Message> seen;
    std::string why = keystroke(key, label, batch, &seen);
    std::optional<int> answer = answerIn(seen);
    flagsUs = answer ? clockUs() : -1;
    if (changed && !answer && why.empty()) why = readFlags();
    if (answer) flags = *answer;
    if (changed && (answer || why.empty()))
      owed = {request(flags = (flags & LOCKS) | (flags & HELD & ~changed))};
    return why;
  }
  // Sends a closing request still owed; returns `why`.
  std::string sendOwed(const std::string &why) {
    if (!owed.empty()) send(takeOwed());
    return why;
  }

  // Waits until the program has taken every byte sent.
  std::string drain() {
    if (waitUntil(clockUs() + timeoutMs * 1000, [&] { return line.programTookAll(); })) return "";
    return format(
        "%zu bytes sent were never taken by the program: it did not read its port within %ld ms",
        line.pendingForProgram() + (size_t)port.unread(), timeoutMs);
  }

  // The steps that are more than one action.
  std::string expectFlags(const Args &a) {
    std::string why = readFlags();
    return !why.empty() || flags == a.bytes[0]
               ? why
               : format("flags are 0x%02X, expected 0x%02X", flags, a.bytes[0]);
  }

  // The program's messages until one is exactly these bytes; the others are passed over.
  std::string expect(const Args &a) {
    std::vector<Message> seen;
    std::string sent;
    if (await([&](const Message &m) { return m.bytes == a.bytes; }, timeoutMs, &seen)) return "";
    for (const Message &m : seen) sent += (sent.empty() ? "" : ", ") + hex(m.bytes);
    return format("expected %s within %ld ms; the program sent %s", hex(a.bytes).c_str(), timeoutMs,
                  sent.empty() ? "nothing" : sent.c_str());
  }

  std::string expectFcs(const Args &a) {
    line.turn(0);
    long came = fcsSinceCheck;
    double spread = came == 0 ? 0 : lastFcMs - firstFcMs;
    fcsSinceCheck = 0;
    if (came != a.n[0]) return format("expected %ld FCs, %ld came", a.n[0], came);
    if (spread >= (double)a.n[1]) return "";
    return format("%ld FCs came within %.0f ms, expected at least %ld ms apart", came, spread,
                  a.n[1]);
  }

  std::string saveCounts(const Args &a) {
    std::string counts =
        format("keystrokes %ld\nacknowledged %ld\nfcs %ld\n", keysSent, keysAcked, fcs);
    int fd = open(a.text.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && write(fd, counts.data(), counts.size()) == (ssize_t)counts.size();
    if ((fd < 0 || close(fd) == 0) && ok) return "";
    return "cannot write " + a.text + ": " + std::strerror(errno);
  }

  // A character no key types, named whole: a UTF-8 character as it is, any
  // other byte by its value; "" when every one has its key.
  static std::string untypable(const std::string &text) {
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

  std::string typeText(const Args &a) {
    std::string why;
    for (size_t i = 0; i < a.text.size() && why.empty(); i++) {
      // A character names its key, unless it cannot be seen (a space).
      unsigned char c = (unsigned char)a.text[i];
      Key key = *keyForChar((char)c);
      why = type(key, std::isgraph(c) ? a.text.substr(i, 1) : keyName(key.scan, key.vk));
    }
    return sendOwed(why);
  }

  std::string latency(const Args &a) {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pauseMs(0, 400);
    Latencies times;
    for (long i = 0; i < a.n[0]; i++) {
      pause(pauseMs(random));
      int64_t written = clockUs();
      // The host's raw clock, which Wine's QueryPerformanceCounter reads, so
      // that a Windows program's times can be set against the device's.
      timespec raw;
      clock_gettime(CLOCK_MONOTONIC_RAW, &raw);
      out.line(format("write-time-us %lld", raw.tv_sec * 1000000LL + raw.tv_nsec / 1000), true);
      if (std::string why = keystroke(F13, "F13"); !why.empty()) return why;
      times.add(clockUs() - written);
    }
    out.line(format("latency write->FC over %ld keystrokes: p50 %s, p99 %s, max %s", times.count(),
                    times.percentile(0.50).c_str(), times.percentile(0.99).c_str(),
                    times.largest().c_str()),
             true);
    return "";
  }

  // Mixed traffic at a device's pace: keystrokes that wait for their FC,
  // queries, identify requests and Scroll Lock changes.
  std::string soak(const Args &a) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> pauseMs(0, 300), pick(0, 9);
    Latencies latencies;
    int keys = 0, queries = 0, answered = 0, identifies = 0, identities = 0, requests = 0;
    bool scrollLock = false;
    quiet = true;
    for (int64_t end = clockUs() + a.n[0] * 1000000; clockUs() < end && !stopSignal;) {
      pause(pauseMs(random));
      int choice = pick(random);
      int64_t written = clockUs();
      if (choice < 7 && ++keys && keystroke(F13, "F13").empty()) latencies.add(clockUs() - written);
      if (choice == 7 && ++queries && readFlags().empty()) answered++;
      if (choice == 8 && ++identifies && identify(timeoutMs).empty()) identities++;
      if (choice == 9) requests++, setFlags((scrollLock = !scrollLock) ? 0x10 : 0x00);
    }
    if (scrollLock) setFlags(0x00);
    quiet = false;
    out.line(format("soak: %ld s, %d keystrokes, %ld FC, %ld lost; FC latency p50 %s, p99 %s; "
                    "%d queries, %d answered; %d identify, %d answered; %d flag requests",
                    a.n[0], keys, latencies.count(), keys - latencies.count(),
                    latencies.percentile(0.50).c_str(), latencies.percentile(0.99).c_str(), queries,
                    answered, identifies, identities, requests),
             true);
    return "";
  }

  // One byte value, over and over, at 9600 8O1's rate, counting the answers.
  std::string flood(const Args &a) {
    long ms = a.n[0], sent = 0, answers = 0;
    std::vector<long> perSecond((size_t)(ms / 1000 + 2), 0);
    quiet = true;
    for (int64_t start = clockUs(), now = start; now - start < ms * 1000 && !stopSignal;
         now = clockUs()) {
      // Unpaced, no more than the line takes at once; paced, a few bytes ahead of it.
      long due = (long)((double)(now - start) / LINE_BYTE_US) - sent;
      long waiting = (long)line.pendingForProgram();
      long n = std::min(due, paced ? 4 - waiting : waiting == 0 ? due : 0);
      if (n > 0) toProgram(Bytes((size_t)n, a.bytes[0])), sent += n;
      pause(2);
      perSecond[std::min(perSecond.size() - 1, (size_t)((clockUs() - start) / 1000000))] +=
          (long)received.size();
      answers += (long)received.size();
      received.clear();
    }
    quiet = false;
    std::string said =
        format("flood: %ld bytes of 0x%02X in %ld ms, %ld answers; answers each second:", sent,
               a.bytes[0], ms, answers);
    for (size_t i = 0; i + 1 < perSecond.size(); i++) said += format(" %ld", perSecond[i]);
    out.line(said, true);
    return "";
  }

  // A shell command, waited for in the loop, so that what the program sends
  // meanwhile is printed and a signal still ends the run. It runs in a process
  // group of its own, its input from /dev/null. A signal ends the group:
  // SIGTERM, then SIGKILL once the shell has gone or a grace has passed, and
  // only then is the shell reaped: until it is, its pid (the group's id) can
  // belong to no other process, so no signal reaches a stranger.
  std::string runShell(const Args &a) {
    const int64_t GRACE_US = 300000;
    out.write();
    pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      int null = open("/dev/null", O_RDONLY);
      if (null > STDIN_FILENO) dup2(null, STDIN_FILENO), close(null);
      std::signal(SIGPIPE, SIG_DFL);
      std::signal(SIGXFSZ, SIG_DFL);
      execl("/bin/sh", "sh", "-c", a.text.c_str(), (char *)nullptr);
      _exit(127);
    }
    if (pid < 0) return std::string("cannot run a shell: ") + std::strerror(errno);
    setpgid(pid, pid);  // the group exists before anything signals it, whoever runs first
    auto ended = [pid] {
      siginfo_t info = {};
      return waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid == pid;
    };
    bool done = waitUntil(INT64_MAX, ended);
    if (!done) {
      kill(-pid, SIGTERM);
      for (int64_t until = clockUs() + GRACE_US; !ended() && clockUs() < until;) usleep(10000);
      kill(-pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!done) return "stopped";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? "" : "command failed: " + a.text;
  }

  std::string waitFile(const Args &a) {
    if (waitUntil(clockUs() + 600000000LL, [&] { return access(a.text.c_str(), F_OK) == 0; }))
      return "";
    return "no file " + a.text + " within 10 min";
  }
};

enum class Syntax { NONE, MS_OPT, KEY, TEXT, HEX, HEXES, N_MS_OPT, MS, COUNT, MS_HEX, ANY };

// Reads the argument by its syntax, in a loop over it and never a recursion,
// so that a step of any length is read in its length's time. `why`: what
// is wrong with a key or a text, when that is more than its syntax.
bool readArgs(Syntax syntax, const std::string &arg, Args *a, std::string *why) {
  std::vector<std::string> w;
  std::istringstream words(arg);
  for (std::string word; words >> word;) w.push_back(word);
  auto number = [&](size_t i, long least) {
    return i < w.size() && parseWhole(w[i], least, 99999999, &a->n[i]);
  };
  a->text = arg;
  switch (syntax) {
    case Syntax::NONE: return arg.empty();
    case Syntax::MS_OPT: return arg.empty() || (w.size() == 1 && number(0, 0));
    case Syntax::KEY: return !arg.empty() && (*why = parseKey(arg, &a->key)).empty();
    case Syntax::TEXT: return !arg.empty() && (*why = Player::untypable(arg)).empty();
    case Syntax::HEX: return w.size() == 1 && parseHexBytes(arg, &a->bytes);
    case Syntax::HEXES: return parseHexBytes(arg, &a->bytes);
    case Syntax::N_MS_OPT: return w.size() <= 2 && number(0, 0) && (w.size() == 1 || number(1, 0));
    case Syntax::MS: return w.size() == 1 && number(0, 0);
    case Syntax::COUNT: return w.size() == 1 && number(0, 1);
    case Syntax::MS_HEX: return w.size() == 2 && number(0, 1) && parseHexBytes(w[1], &a->bytes);
    case Syntax::ANY: return !arg.empty();
  }
  return false;
}

// Each step: its word, its argument's syntax and as --help shows it, what it
// does, and what does it.
const struct Verb {
  std::string name;
  Syntax syntax;
  std::string shown, help;
  std::function<std::string(Player &, const Args &)> run;
} VERBS[] = {
    {"identify", Syntax::MS_OPT, "[MS]",
     "send the identify request, wait for the identity (default 30 s)",
     [](Player &p, const Args &a) { return p.identify(a.text.empty() ? 30000 : a.n[0]); }},
    {"key", Syntax::KEY, "KEY",
     "one keystroke as text types: F4, ctrl+c, scan=1E vk=41 (`keys` lists names)",
     [](Player &p, const Args &a) { return p.sendOwed(p.type(a.key, a.text)); }},
    {"text", Syntax::TEXT, "STRING",
     "type the characters as written, whatever the locks, pressing no lock key", &Player::typeText},
    {"mods", Syntax::HEX, "HEX", "set the lock and modifier keys to this flags byte",
     [](Player &p, const Args &a) { return p.setFlags(a.bytes[0]), ""; }},
    {"query", Syntax::NONE, "", "ask for the flags byte (with an identify, to tell the answer)",
     [](Player &p, const Args &) { return p.readFlags(); }},
    {"expect-flags", Syntax::HEX, "HEX", "ask for the flags byte; fail unless it is HEX",
     &Player::expectFlags},
    {"expect", Syntax::HEXES, "HEX...", "wait for the program to send this message; fail if not",
     &Player::expect},
    {"expect-fcs", Syntax::N_MS_OPT, "N [MS]",
     "fail unless N FCs came since the last check (first to last at least MS)", &Player::expectFcs},
    {"expect-no-loss", Syntax::NONE, "", "fail unless every keystroke sent got its FC",
     [](Player &p, const Args &) {
       return p.keysSent == p.keysAcked
                  ? ""
                  : format("%ld of %ld keystrokes got no FC", p.keysSent - p.keysAcked, p.keysSent);
     }},
    {"save-counts", Syntax::ANY, "FILE", "write the keystrokes sent and FCs received to FILE",
     &Player::saveCounts},
    {"raw", Syntax::HEXES, "HEX...", "send bytes exactly as given",
     [](Player &p, const Args &a) { return p.send(a.bytes, "raw"), p.flagsUs = -1, ""; }},
    {"listen", Syntax::MS, "MS", "print what the program sends for MS milliseconds",
     [](Player &p, const Args &a) { return p.pause(a.n[0]), ""; }},
    {"sleep", Syntax::MS, "MS", "wait (printing what arrives meanwhile)",
     [](Player &p, const Args &a) { return p.pause(a.n[0]), ""; }},
    {"latency", Syntax::COUNT, "N", "N keystrokes at random moments; print write-to-FC times",
     &Player::latency},
    {"soak", Syntax::COUNT, "SECONDS", "mixed traffic at a device's pace; print what was lost",
     &Player::soak},
    {"flood", Syntax::MS_HEX, "MS HEX", "send one byte at 9600 baud's line rate; count the answers",
     &Player::flood},
    {"run", Syntax::ANY, "SHELL-COMMAND", "run a command on this machine and wait for it",
     &Player::runShell},
    {"wait-file", Syntax::ANY, "PATH",
     "wait (up to 10 min) until PATH exists, printing what arrives", &Player::waitFile},
};

// A step as an error quotes it: whole when short, else its start and its length.
std::string quoted(const std::string &line) {
  if (line.size() <= 60) return "'" + line + "'";
  size_t cut = 40;
  while (cut > 0 && ((unsigned char)line[cut] & 0xC0) == 0x80) cut--;  // not inside a character
  return format("'%s...' (%zu characters)", line.substr(0, cut).c_str(), line.size());
}

// Reads a step and, with a player, runs it. A bad step is a usage error, a
// failed one a failure; a comment or an empty line does nothing.
Outcome step(Player *p, const std::string &line) {
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
  Args args;
  if (!readArgs(verb->syntax, arg, &args, &why))
    return usage(quoted(line) + ": " +
                 (why.empty()
                      ? name + " takes " + (verb->shown.empty() ? "no argument" : verb->shown)
                      : why));
  if (!p) return Outcome();
  why = verb->run(*p, args);
  if (stopSignal) why = format("stopped (%s) during ", strsignal(stopSignal)) + quoted(line);
  return why.empty() ? Outcome() : failure(why);
}

// The next line of standard input, waited for in the loop; false at its end.
bool nextLine(Player &p, std::string *line) {
  static std::string buffer;
  static bool ended = false;
  for (;;) {
    size_t end = buffer.find('\n');
    if (end != std::string::npos || (ended && !buffer.empty())) {
      *line = buffer.substr(0, end);
      buffer.erase(0, end == std::string::npos ? end : end + 1);
      return true;
    }
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (ended || !p.waitUntil(
                     INT64_MAX, [&] { return poll(&in, 1, 0) > 0; }, STDIN_FILENO))
      return false;
    char chunk[4096];
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n > 0) buffer.append(chunk, (size_t)n);
    ended = n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
  }
}
}  // namespace

std::string stepHelp() {
  std::string help;
  for (const Verb &v : VERBS)
    help += format("  %-21s%s\n", (v.name + (v.shown.empty() ? "" : " ") + v.shown).c_str(),
                   v.help.c_str());
  return help;
}

Outcome runScript(const Options &o) {
  for (const std::string &line : o.steps)
    if (Outcome checked = step(nullptr, line); checked.code != EXIT_PASSED) return checked;
  Transcript out;
  Outcome result;
  std::string why;
  if (!out.open("", o.record, "", &why)) return usage(why);
  {
    ProgramPort port;
    if (!port.make(o.link, false, &why)) return out.abandon(), usage(why);
    // The record's view watches the line as the tap's does; its own lines
    // are not printed, as the played device prints its own.
    Transcript recorded([](const std::string &, bool) {}, [&](const Entry &e) { out.record(e); });
    View view(recorded, "script", false);
    Player p(port, out, o.record.empty() ? nullptr : &view, o.lineRate, o.timeoutMs);
    Entry start = {0, Event::Start};
    start.mode = "script", start.link = o.link;
    out.start(start, "device: " + o.link + " -> " + port.slave +
                         (o.lineRate ? " (paced as 9600 8O1)" : ""));
    for (size_t i = 0; i < o.steps.size() && result.code == EXIT_PASSED; i++)
      result = step(&p, o.steps[i]);
    for (std::string line; o.fromStdin && result.code == EXIT_PASSED && nextLine(p, &line);) {
      result = step(&p, line);
      if (result.code == EXIT_PASSED) out.line("step done: " + line, true);
    }
    if (result.code == EXIT_PASSED && stopSignal)
      result = failure(format("stopped (%s) waiting for a step", strsignal(stopSignal)));
    if (result.code == EXIT_PASSED && !(why = p.drain()).empty()) result = failure(why);
    if (p.view) view.end(stampUs());
  }  // the link goes before the wait for standard output
  return out.finish(result);
}

}  // namespace device
