// The command line: which mode, and its options. Each mistake is named in
// one line ("--seconds 5x: not a whole number from 1 to 86400"); numbers
// are parsed strictly.
#pragma once

#include <string>
#include <vector>

#include "modes.h"

namespace device {

struct Options {
  enum Mode { SCRIPT, TAP, CONFORM, GRADE, HELP } mode = SCRIPT;
  // Script mode.
  std::string link;
  long timeoutMs = 3000;
  bool lineRate = false;
  bool fromStdin = false;
  std::vector<std::string> commands;
  TapOptions tap;
  ConformOptions conform;
  std::string gradeFile;
};

// The arguments after the program's name; false with what is wrong.
bool parseOptions(const std::vector<std::string> &args, Options *options, std::string *why);

}  // namespace device
