#include "util.h"

#include <time.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>

namespace device {

Outcome usage(const std::string &why) { return {EXIT_USAGE, why}; }
Outcome failure(const std::string &why) { return {EXIT_FAILED, why}; }

std::string format(const char *pattern, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

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
  for (char c : digits)
    if (!std::isxdigit((unsigned char)c)) return false;
  *value = std::stoi(digits, nullptr, 16);
  return true;
}

bool parseHexBytes(const std::string &text, Bytes *bytes) {
  bytes->clear();
  size_t at = 0;
  while ((at = text.find_first_not_of(' ', at)) != std::string::npos) {
    size_t end = std::min(text.find(' ', at), text.size());
    int value;
    if (!parseHexByte(text.substr(at, end - at), &value)) return false;
    bytes->push_back((uint8_t)value);
    at = end;
  }
  return !bytes->empty();
}

std::string hex(const Bytes &bytes) {
  std::string text;
  for (uint8_t b : bytes) text += format(text.empty() ? "%02X" : " %02X", b);
  return text;
}

int64_t nowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int64_t stampUs() {
  static int64_t last = -1;
  last = std::max(last + 1, nowUs());
  return last;
}

long long rawMicroseconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC_RAW, &t);
  return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, (size_t)(p * (double)values.size()))];
}

std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what) {
  return format("%9.1f %s %-9s %s", (double)us / 1000, arrow, bytes.c_str(), what.c_str());
}

volatile sig_atomic_t stopSignal = 0;

namespace {
void requestStop(int signal) { stopSignal = signal; }
}  // namespace

void catchSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, requestStop);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace device
