// What the device tool's tests check beyond the helpers they share with the
// benchmarks.
#pragma once

#include "tool_process.h"

namespace tool {

// A process that runs: there, and not a zombie.
inline bool alive(pid_t pid) {
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t state = stat.rfind(") ");
  return state != std::string::npos && stat[state + 2] != 'Z';
}

inline bool has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// Writes what the reader takes now, or for up to `ms`; returns how many bytes.
inline size_t write(int fd, const Bytes &bytes, int ms = 0) {
  size_t sent = 0;
  within(ms, [&] {
    ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    sent += n > 0 ? (size_t)n : 0;
    return sent == bytes.size();
  });
  return sent;
}

}  // namespace tool
