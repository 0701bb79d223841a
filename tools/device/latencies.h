// Latencies, kept as counts of each tenth of a millisecond up to 10 s (and
// one count for all beyond), with the largest exactly: memory that does not
// grow with the run, and percentiles as exact as the 0.1 ms they print to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace device {

class Latencies {
 public:
  Latencies() : tenths_(LIMIT_TENTHS + 1) {}
  void add(int64_t us);
  long count() const { return count_; }
  // The p-th fraction by the nearest-rank rule, "12.3 ms" ("0.0 ms" when
  // there are none, "over 10 s" beyond); the largest to 0.1 ms.
  std::string percentile(double p) const;
  std::string largest() const;

 private:
  static const size_t LIMIT_TENTHS = 100000;
  std::vector<uint32_t> tenths_;  // the last: all beyond the limit
  long count_ = 0;
  int64_t largestUs_ = 0;
};

}  // namespace device
