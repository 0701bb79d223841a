#include "util.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace device {

std::string format(const char *pattern, ...) {
  va_list arguments, again;
  va_start(arguments, pattern);
  va_copy(again, arguments);
  std::string text((size_t)std::max(0, std::vsnprintf(nullptr, 0, pattern, arguments)), '\0');
  std::vsnprintf(text.data(), text.size() + 1, pattern,
                 again);  // any length: a step's bytes, a path
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

int64_t nowUs() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int64_t stampUs() {
  static int64_t last = -1;
  return last = std::max(last + 1, nowUs());
}

void Latencies::add(int64_t us) {
  // Rounded to the nearest tenth, so that a bucket prints as its values do.
  tenths_[(size_t)std::min<int64_t>(std::max<int64_t>(us, 0) / 100 + (us % 100 >= 50),
                                    LIMIT_TENTHS)]++;
  count_++;
  largestUs_ = std::max(largestUs_, us);
}

std::string Latencies::percentile(double p) const {
  long rank = std::min(count_ - 1, (long)(p * (double)count_)), seen = 0;
  for (size_t tenth = 0; count_ > 0 && tenth < LIMIT_TENTHS; tenth++)
    if ((seen += tenths_[tenth]) > rank) return format("%.1f ms", (double)tenth / 10);
  return count_ == 0 ? "0.0 ms" : "over 10 s";
}

std::string Latencies::largest() const { return format("%.1f ms", (double)largestUs_ / 1000); }

std::string transcriptLine(int64_t us, const char *arrow, const std::string &bytes,
                           const std::string &what) {
  return format("%9.1f %s %-9s %s", (double)us / 1000, arrow, bytes.c_str(), what.c_str());
}

volatile sig_atomic_t stopSignal = 0;

void catchSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP}) std::signal(s, [](int signal) { stopSignal = signal; });
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace device
