#include "numbers.h"

#include <cctype>

namespace device {

bool parseWhole(const std::string &text, long min, long max, long *value) {
  if (text.empty() || text.size() > 18) return false;  // more would overflow
  long v = 0;
  for (char c : text) {
    if (!std::isdigit((unsigned char)c)) return false;
    v = v * 10 + (c - '0');
  }
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

bool parseHexByte(const std::string &text, int *value) {
  std::string digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  if (digits.empty() || digits.size() > 2) return false;
  int v = 0;
  for (char c : digits) {
    if (!std::isxdigit((unsigned char)c)) return false;
    v = v * 16 + (std::isdigit((unsigned char)c) ? c - '0' : std::tolower(c) - 'a' + 10);
  }
  *value = v;
  return true;
}

}  // namespace device
