#include "text.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace device {

// Any length: a step's bytes, a path.
std::string format(const char *pattern, ...) {
  va_list arguments, again;
  va_start(arguments, pattern);
  va_copy(again, arguments);
  std::string text((size_t)std::max(0, std::vsnprintf(nullptr, 0, pattern, arguments)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, pattern, again);
  va_end(again);
  va_end(arguments);
  return text;
}

namespace {
// Digits only, in `base`, the whole of the text; unsigned, so that no sign is taken.
bool parseDigits(const std::string &text, int base, unsigned long long *value) {
  const char *end = text.data() + text.size();
  auto parsed = std::from_chars(text.data(), end, *value, base);
  return !text.empty() && parsed.ec == std::errc() && parsed.ptr == end;
}
}  // namespace

bool parseWhole(const std::string &text, long min, long max, long *value) {
  unsigned long long v;
  if (!parseDigits(text, 10, &v) || v < (unsigned long long)min || v > (unsigned long long)max)
    return false;
  *value = (long)v;
  return true;
}

bool parseHexBytes(const std::string &text, Bytes *bytes) {
  bytes->clear();
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.erase(0, 2);
    unsigned long long value;
    if (word.size() > 2 || !parseDigits(word, 16, &value)) return false;
    bytes->push_back((uint8_t)value);
  }
  return !bytes->empty();
}

std::string hex(const Bytes &bytes) {
  std::string text;
  for (uint8_t b : bytes) text += format(text.empty() ? "%02X" : " %02X", b);
  return text;
}

std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what) {
  return format("%9.1f %s %-9s %s", (double)us / 1000, arrow, bytes.c_str(), what.c_str());
}

}  // namespace device
