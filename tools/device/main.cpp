// talliver-device: plays the device's part against the program on a fresh
// pseudo-terminal (script mode), relays and watches a real device's line
// (tap), grades a real device (conform), grades a record again (grade),
// draws one (plot), or lists the keys it knows by name (keys).
// Exit 0 passed, 1 a failed run, step or rule, 2 a usage error, 3 nothing
// failed but something was not graded.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>

#include "clock.h"
#include "modes.h"
#include "stop.h"

using namespace device;

namespace {
// The closing words, on standard error. A file takes them at once; anything
// else is opened afresh so as not to wait (or, where it cannot be, written a
// pipe's atomic share at a time once there is room): a reader that has
// paused (2>&1 | less) holds the exit a tenth of a second at most, and what
// it did not take is lost.
void sayLast(const std::string &words) {
  struct stat st;
  bool file = fstat(STDERR_FILENO, &st) == 0 && S_ISREG(st.st_mode);
  int fd = file ? -1 : open("/proc/self/fd/2", O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  int to = fd >= 0 ? fd : STDERR_FILENO;
  size_t at = 0;
  for (int64_t until = clockUs() + 100000; at < words.size() && clockUs() < until;) {
    pollfd room = {to, POLLOUT, 0};
    ssize_t n = poll(&room, 1, 10) <= 0
                    ? 0
                    : write(to, words.data() + at, std::min<size_t>(PIPE_BUF, words.size() - at));
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    at += n > 0 ? (size_t)n : 0;
  }
  if (fd >= 0) close(fd);
}

const long MOST_SECONDS = 366L * 24 * 3600, MOST_TIMEOUT_MS = 3600L * 1000;

void printUsage() {
  std::fputs(
      "usage: talliver-device --link PATH [--timeout MS] [--line-rate] [--record FILE]\n"
      "                       STEP... [-]\n"
      "       talliver-device tap --port DEVICE --link PATH [--log FILE] [--record FILE]\n"
      "                           [--seconds N] [--line-rate]\n"
      "       talliver-device conform --port DEVICE [--log FILE] [--record FILE] [--seconds N]\n"
      "       talliver-device grade FILE\n"
      "       talliver-device plot FILE [--out PICTURE] [--from MS] [--to MS]\n"
      "       talliver-device keys\n"
      "  --link PATH    the program's COM port: a symbolic link to this tool's pty; made where\n"
      "                 nothing is or over a link to a pty that has gone, removed at the end\n"
      "  --timeout MS   how long to wait for each answer (default 3000)\n"
      "  --line-rate    pace bytes as 9600 8O1 does, 1.15 ms a byte, both ways\n"
      "  -              then read steps from standard input, each run as its line arrives and\n"
      "                 followed by the line \"step done: STEP\"\n"
      "  --port DEVICE  the device's serial port, any tty (/dev/ttyUSB0), set to 9600 8O1 raw\n"
      "  --log FILE     write the same lines to FILE as well\n"
      "  --record FILE  write a JSON record, one object a line, for grade, plot and other tools\n"
      "  --seconds N    tap: stop after N s (default: at Ctrl+C); conform: run N s (default 60)\n"
      "  --out PICTURE  plot: the SVG file to write (default: FILE with .svg for its extension);\n"
      "                 replaces only a picture that plot drew, and only once the new one is "
      "whole\n"
      "  --from MS      plot: draw from this time on (ms since the run began), in full detail\n"
      "  --to MS        plot: draw up to this time\n"
      "tap relays every byte both ways unchanged and prints one line a message, with a\n"
      "warning (grep 'warning') where the device breaks the line's rules; conform plays the\n"
      "program's side while you press the device's keys, then grades each rule PASS, FAIL\n"
      "or NOT GRADED; grade does the same again from a record; plot draws a record: both\n"
      "sides' messages on a time axis, each keystroke joined to its FC, warnings, the port's\n"
      "closes and reopens, and the figures (and a conformance run's grades) under it; keys\n"
      "lists the keys that steps name, with their scan and virtual-key codes.\n"
      "exit: 0 passed, 1 a step, rule or run failed (a log or record cut, bytes not sent),\n"
      "2 a usage error (bad options or step, a port, file or link that cannot be used),\n"
      "3 nothing failed but something was not graded.\n"
      "steps (one argument each, quoted when it has blanks):\n",
      stdout);
  std::fputs(stepHelp().c_str(), stdout);
}

// The same path, however written ("com1", "./com1").
bool samePath(const std::string &a, const std::string &b) {
  std::error_code error;
  return std::filesystem::absolute(a, error).lexically_normal() ==
         std::filesystem::absolute(b, error).lexically_normal();
}

// Each mode: the word that names it (none for script mode), its name in
// messages, its options, and what runs it.
const struct ModeKind {
  Mode mode;
  std::string word, name, options;
  Outcome (*run)(const Options &);
} MODES[] = {
    {Mode::Script, "", "script mode", " --link --timeout --line-rate --record - ", runScript},
    {Mode::Tap, "tap", "tap", " --port --link --log --record --seconds --line-rate ", runTap},
    {Mode::Conform, "conform", "conform", " --port --log --record --seconds ", runConform},
    {Mode::Grade, "grade", "grade", " ", runGrade},
    {Mode::Plot, "plot", "plot", " --out --from --to ", runPlot},
    {Mode::Keys, "keys", "keys", " ", runKeys},
};

Outcome parse(const std::vector<std::string> &args, Options *o) {
  const ModeKind *mode = &MODES[0];
  for (const ModeKind &m : MODES)
    if (!args.empty() && !m.word.empty() && args[0] == m.word) mode = &m;
  o->mode = mode->mode;
  // A first word that is no mode makes a script, and its options are script mode's.
  bool noMode = o->mode == Mode::Script && !args.empty() && !args[0].empty() && args[0][0] != '-';
  bool readsFile = o->mode == Mode::Grade || o->mode == Mode::Plot;
  for (size_t i = mode->word.empty() ? 0 : 1; i < args.size();) {
    const std::string a = args[i++];
    if (a.empty() || a[0] != '-') {
      if (o->mode == Mode::Script) o->steps.push_back(a);
      if (readsFile && o->file.empty())
        o->file = a;
      else if (o->mode != Mode::Script)
        return usage(mode->name +
                     (readsFile ? " takes one FILE, not also " : " takes no argument ") + a);
      continue;
    }
    if (mode->options.find(" " + a + " ") == std::string::npos)
      return usage((noMode ? args[0] + " is not a mode; " : "") + mode->name + " has no option " +
                   a);
    if (a == "--line-rate" || a == "-") {
      (a == "-" ? o->fromStdin : o->lineRate) = true;
      continue;
    }
    if (i >= args.size() || args[i].empty()) return usage(a + " needs a value");
    const std::string v = args[i++];
    bool seconds = a == "--seconds";
    if ((seconds || a == "--timeout") && !parseWhole(v, 1, seconds ? MOST_SECONDS : MOST_TIMEOUT_MS,
                                                     seconds ? &o->seconds : &o->timeoutMs))
      return usage(format("%s %s: not a whole number of %s from 1 to %ld", a.c_str(), v.c_str(),
                          seconds ? "seconds" : "milliseconds",
                          seconds ? MOST_SECONDS : MOST_TIMEOUT_MS));
    bool ms = a == "--from" || a == "--to";
    if (ms && !parseWhole(v, 0, MOST_SECONDS * 1000, a == "--from" ? &o->fromMs : &o->toMs))
      return usage(format("%s %s: not a whole number of milliseconds from 0 to %ld", a.c_str(),
                          v.c_str(), MOST_SECONDS * 1000));
    if (!seconds && !ms && a != "--timeout")
      (a == "--link"   ? o->link
       : a == "--port" ? o->port
       : a == "--log"  ? o->log
       : a == "--out"  ? o->out
                       : o->record) = v;
  }
  bool needsPort = o->mode == Mode::Tap || o->mode == Mode::Conform;
  if (o->mode == Mode::Conform && o->seconds == 0) o->seconds = 60;
  if (readsFile && o->file.empty())
    return usage(mode->name + " needs a FILE (a record made with --record)");
  if (o->toMs >= 0 && o->toMs <= std::max(o->fromMs, 0L))
    return usage(format("--to %ld: not after --from %ld", o->toMs, std::max(o->fromMs, 0L)));
  if (needsPort && o->port.empty()) return usage(mode->name + " needs --port DEVICE");
  if ((o->mode == Mode::Script || o->mode == Mode::Tap) && o->link.empty())
    return usage(mode->name + " needs --link PATH");
  if (o->mode == Mode::Tap && samePath(o->link, o->port))
    return usage("--port and --link name one path");
  if (!o->link.empty() && !o->log.empty() && samePath(o->log, o->link))
    return usage("--log names the --link: the log needs a file of its own");
  if (!o->link.empty() && !o->record.empty() && samePath(o->record, o->link))
    return usage("--record names the --link: the record needs a file of its own");
  return Outcome();
}
}  // namespace

int main(int argc, char **argv) {
  // A closed standard descriptor would be handed to the next file opened (the
  // device's port, say), and what is meant for standard output would go there.
  int fd = open("/dev/null", O_RDWR);
  while (fd >= 0 && fd <= STDERR_FILENO) fd = dup(fd);
  if (fd > STDERR_FILENO) close(fd);
  catchSignals();
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string &a : args)
    if (a == "-h" || a == "--help") return printUsage(), EXIT_PASSED;
  Options o;
  Outcome result = parse(args, &o);
  if (result.code == EXIT_PASSED) result = MODES[(int)o.mode].run(o);
  std::string words;
  for (size_t at = 0; at < result.why.size();) {
    size_t end = std::min(result.why.find('\n', at), result.why.size());
    words += "talliver-device: " + result.why.substr(at, end - at) +
             (result.code == EXIT_USAGE ? "; see --help\n" : "\n");
    at = end + 1;
  }
  sayLast(words);
  return result.code;
}
