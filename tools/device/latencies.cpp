#include "latencies.h"

#include <algorithm>

#include "text.h"

namespace device {

void Latencies::add(int64_t us) {
  // Rounded to the nearest tenth, so that a bucket prints as its values do.
  us = std::max<int64_t>(us, 0);
  tenths_[(size_t)std::min<int64_t>(us / 100 + (us % 100 >= 50), LIMIT_TENTHS)]++;
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

}  // namespace device
