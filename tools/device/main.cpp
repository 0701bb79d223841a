// talliver-device: plays the VANTOLE device's part on a pseudo-terminal.
//
// Creates a fresh pty, points the given link (the Windows program's COM port)
// at it, then runs commands from the command line or, with "-", from
// standard input, one per line. Prints every byte sent and every message the
// program answers, decoded. Exits 1 at the first command that fails.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pty_line.h"
#include "script.h"
#include "session.h"

using namespace device;

namespace {
void printUsage(std::FILE *out) {
  std::fputs(
      "usage: talliver-device --link PATH [--timeout MS] COMMAND... | -\n"
      "  --link PATH   the program's COM port: a symbolic link pointed at this pty\n"
      "  --timeout MS  how long to wait for each answer (default 3000)\n"
      "  -             read the commands from standard input, one a line\n"
      "commands (one argument each, quoted when it has blanks):\n",
      out);
  printCommandHelp(out);
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
