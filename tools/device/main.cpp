// talliver-device: plays the VANTOLE device's part on a pseudo-terminal, or
// watches a real device.
//
// Script mode: creates a fresh pty, points the given link (the Windows
// program's COM port) at it, then runs commands from the command line or,
// with "-", from standard input, one per line. Prints every byte sent and
// every message the program answers, decoded. Exits 1 at the first command
// that fails. From standard input each command runs as its line arrives,
// and "step done: COMMAND" follows it, so that a caller can drive the
// device one step at a time.
// tap: relays between a real device's serial port and the program's COM
// port, printing what crosses a message at a time, with warnings.
// conform: plays the program's side against a real device and grades it.
// grade: grades a record that tap or conform made, again.
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "modes.h"
#include "options.h"
#include "pty_line.h"
#include "script.h"
#include "session.h"
#include "signals.h"

using namespace device;

namespace {
void printUsage() {
  std::fputs(
      "usage: talliver-device --link PATH [--timeout MS] [--line-rate] COMMAND... | -\n"
      "       talliver-device tap --port DEVICE --link PATH [--log FILE] [--record FILE]\n"
      "                           [--seconds N] [--line-rate]\n"
      "       talliver-device conform --port DEVICE [--log FILE] [--record FILE] [--seconds N]\n"
      "       talliver-device grade FILE\n"
      "  --link PATH    the program's COM port: a symbolic link pointed at this tool's pty;\n"
      "                 only a link to a pty is ever replaced, and it is removed at the end\n"
      "  --timeout MS   how long to wait for each answer (default 3000)\n"
      "  --line-rate    pace bytes as 9600 8O1 does, 1.15 ms a byte, both ways\n"
      "  -              read the commands from standard input, one a line, each run as it\n"
      "                 arrives and followed by the line \"step done: COMMAND\"\n"
      "  --port DEVICE  the device's serial port, any tty (/dev/ttyUSB0), set to 9600 8O1 raw\n"
      "  --log FILE     write the same lines to FILE as well\n"
      "  --record FILE  write a JSON record, one object a line, for `grade` and other tools\n"
      "  --seconds N    tap: stop after N s (default: at Ctrl+C); conform: run N s (default 60)\n"
      "tap relays every byte both ways unchanged and prints one line a message, with a\n"
      "warning (grep 'warning') where the device breaks the link's rules; conform plays the\n"
      "program's side while you press the device's keys, then grades each rule PASS, FAIL\n"
      "or NOT GRADED (exit 0 all passed, 1 a failure, 3 something not graded); grade does\n"
      "the same again from a record. Exit 2: bad options, or a port or file that cannot be used.\n"
      "commands (one argument each, quoted when it has blanks):\n",
      stdout);
  printCommandHelp(stdout);
}

int runScript(const Options &o) {
  PtyLine line(o.link, PtyLine::SIMULATOR, o.lineRate);
  removeLinkOnSignals(o.link, line.slaveName());
  Session session;
  session.line = &line;
  session.answerTimeoutMs = (int)o.timeoutMs;
  std::printf("device: %s -> %s%s\n", o.link.c_str(), line.slaveName().c_str(),
              o.lineRate ? " (paced as 9600 8O1)" : "");
  std::fflush(stdout);
  for (const std::string &command : o.commands)
    if (!runCommand(session, command)) return EXIT_FAILED;
  if (!o.fromStdin) return EXIT_PASSED;
  for (std::string command; std::getline(std::cin, command);) {
    if (!runCommand(session, command)) return EXIT_FAILED;
    std::printf("step done: %s\n", command.c_str());
    std::fflush(stdout);
  }
  return EXIT_PASSED;
}
}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::string why;
  if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &why)) {
    std::fprintf(stderr, "talliver-device: %s; see --help\n", why.c_str());
    return EXIT_USAGE;
  }
  try {
    switch (options.mode) {
      case Options::HELP: return printUsage(), EXIT_PASSED;
      case Options::TAP: return runTap(options.tap);
      case Options::CONFORM: return runConform(options.conform);
      case Options::GRADE: return runGrade(options.gradeFile);
      case Options::SCRIPT: return runScript(options);
    }
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talliver-device: %s\n", e.what());
  }
  return EXIT_USAGE;
}
