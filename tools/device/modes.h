// The tool's modes besides playing the device: a live tap between a real
// device and the program, a conformance run against a real device, and the
// grading of a record made by either.
#pragma once

#include <string>

namespace device {

struct TapOptions {
  std::string port;    // the real device's serial port
  std::string link;    // the program's COM port: a link pointed at a fresh pty
  std::string log;     // a file for the same lines, or ""
  std::string record;  // a file for the JSON record, or ""
  long seconds = 0;    // stop after this long; 0: at Ctrl+C
  bool lineRate = false;
};
int runTap(const TapOptions &options);

struct ConformOptions {
  std::string port;
  std::string log;
  std::string record;
  long seconds = 60;
};
int runConform(const ConformOptions &options);

// Grades a record again; the exit code as the run that made it would give.
int runGrade(const std::string &file);

// Exit codes the modes share.
const int EXIT_PASSED = 0;
const int EXIT_FAILED = 1;      // a command, or a rule, failed
const int EXIT_USAGE = 2;       // bad options, or a port or file that cannot be used
const int EXIT_NOT_GRADED = 3;  // conform and grade: nothing failed, something not graded

}  // namespace device
