// Bytes as the tests print them: "84 1E 41".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char b[4];
    std::snprintf(b, sizeof b, "%02X", byte);
    text += (text.empty() ? "" : " ") + std::string(b);
  }
  return text;
}
