// The tool's modes besides playing the device: a live tap between a real
// device and the program, and a conformance run against a real device.
#pragma once

#include <string>

namespace device {

struct TapOptions {
  std::string port;  // the real device's serial port
  std::string link;  // the program's COM port: a link pointed at a fresh pty
  std::string log;   // a file for the same lines, or ""
  int seconds = 0;   // stop after this long; 0: at Ctrl+C
};
int runTap(const TapOptions &options);

struct ConformOptions {
  std::string port;
  std::string log;
  int seconds = 60;
};
int runConform(const ConformOptions &options);

}  // namespace device
