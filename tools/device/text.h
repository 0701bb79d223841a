// Text in and out: formatting, strict numbers, bytes in hex, a transcript line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

using Bytes = std::vector<uint8_t>;

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

// The whole text is the number: "5x", " 5", "+5" and "" are not numbers.
bool parseWhole(const std::string &text, long min, long max, long *value);
// Bytes in hex separated by blanks, "84 1E" or "0x84", at least one.
bool parseHexBytes(const std::string &text, Bytes *bytes);
std::string hex(const Bytes &bytes);  // "84 1E 41"

// "   1234.5 -> 84 1E 41  key a": a transcript line, the time in ms.
std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what);

}  // namespace device
