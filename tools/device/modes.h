// The tool's modes and the command line they share. Each returns its
// outcome; main prints the reasons and exits with the code.
#pragma once

#include "outcome.h"
#include "text.h"

namespace device {

// Script mode (the device played against the program), the tap, the
// conformance run, grading a record again, drawing one, and the table of keys.
enum class Mode { Script, Tap, Conform, Grade, Plot, Keys };

struct Options {
  Mode mode = Mode::Script;
  std::string link, port, log, record, file, out;
  long timeoutMs = 3000, seconds = 0, fromMs = -1, toMs = -1;
  bool lineRate = false, fromStdin = false;
  std::vector<std::string> steps;
};

Outcome runScript(const Options &o);
Outcome runTap(const Options &o);
Outcome runConform(const Options &o);
Outcome runGrade(const Options &o);
Outcome runPlot(const Options &o);
Outcome runKeys(const Options &o);

// The script's steps, a line each, as --help shows them.
std::string stepHelp();

}  // namespace device
