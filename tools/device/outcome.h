// How a mode ends: its exit code and, unless it passed, why (one line a
// reason). main prints the reasons; a usage error also points at --help.
#pragma once

#include <string>

namespace device {

enum { EXIT_PASSED = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_NOT_GRADED = 3 };

struct Outcome {
  int code = EXIT_PASSED;
  std::string why;
};
inline Outcome usage(const std::string &why) { return {EXIT_USAGE, why}; }
inline Outcome failure(const std::string &why) { return {EXIT_FAILED, why}; }

}  // namespace device
