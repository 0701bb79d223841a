// talliver-device: plays the VANTOLE device's part on a pseudo-terminal, or
// watches a real device.
//
// Script mode: creates a fresh pty, points the given link (the Windows
// program's COM port) at it, then runs commands from the command line or,
// with "-", from standard input, one per line. Prints every byte sent and
// every message the program answers, decoded. Exits 1 at the first command
// that fails.
// tap: relays between a real device's serial port and the program's COM
// port, printing what crosses a message at a time, with warnings.
// conform: plays the program's side against a real device and grades it.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "modes.h"
#include "pty_line.h"
#include "script.h"
#include "session.h"

using namespace device;

namespace {
void printUsage(std::FILE *out) {
  std::fputs(
      "usage: talliver-device --link PATH [--timeout MS] COMMAND... | -\n"
      "       talliver-device tap --port DEVICE --link PATH [--log FILE] [--seconds N]\n"
      "       talliver-device conform --port DEVICE [--log FILE] [--seconds N]\n"
      "  --link PATH   the program's COM port: a symbolic link pointed at this pty\n"
      "  --timeout MS  how long to wait for each answer (default 3000)\n"
      "  -             read the commands from standard input, one a line\n"
      "  --port DEVICE the device's serial port, any tty (/dev/ttyUSB0), set to 9600 8O1 raw\n"
      "  --log FILE    write the same lines to FILE as well\n"
      "  --seconds N   tap: stop after N s (default: at Ctrl+C); conform: run N s (default 60)\n"
      "tap relays every byte both ways unchanged and prints one line a message, with a\n"
      "warning (grep 'warning') where the device breaks the link's rules; conform plays the\n"
      "program's side while you press the device's keys, then prints PASS/WARN/FAIL a rule.\n"
      "commands (one argument each, quoted when it has blanks):\n",
      out);
  printCommandHelp(out);
}

// tap and conform: their options after the mode's name.
int runMode(const std::string &mode, int argc, char **argv) {
  TapOptions tap;
  ConformOptions conform;
  for (int i = 2; i < argc; i++) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--port" && hasValue)
      tap.port = conform.port = argv[++i];
    else if (a == "--link" && hasValue && mode == "tap")
      tap.link = argv[++i];
    else if (a == "--log" && hasValue)
      tap.log = conform.log = argv[++i];
    else if (a == "--seconds" && hasValue)
      tap.seconds = conform.seconds = std::atoi(argv[++i]);
    else
      return printUsage(stderr), 2;
  }
  if (tap.port.empty() || (mode == "tap" && tap.link.empty()) || conform.seconds <= 0)
    return printUsage(stderr), 2;
  try {
    return mode == "tap" ? runTap(tap) : runConform(conform);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "talliver-device: %s\n", e.what());
    return 2;
  }
}
}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && (std::string(argv[1]) == "tap" || std::string(argv[1]) == "conform"))
    return runMode(argv[1], argc, argv);
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
      return printUsage(stdout), 0;
    else
      commands.push_back(a);
  }
  if (link.empty()) return printUsage(stderr), 2;

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
