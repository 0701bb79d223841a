// Lines for a person watching the link: to standard output and, when asked,
// to a log file as well; and a stop flag that Ctrl+C sets.
#pragma once

#include <cstdio>
#include <string>

#include "link_watch.h"

namespace device {

class Transcript {
 public:
  // False when the log file cannot be written.
  bool openLog(const std::string &path);
  ~Transcript();
  void line(const std::string &text);
  // A message or a warning, as the simulator prints them.
  void sighting(const Sighting &s);

 private:
  std::FILE *log_ = nullptr;
};

// Set by SIGINT and SIGTERM once stopOnSignals has run.
extern volatile bool stopRequested;
void stopOnSignals();

}  // namespace device
