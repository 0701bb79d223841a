#include "clock.h"

#include <algorithm>
#include <chrono>

namespace device {

int64_t clockUs() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

int64_t stampUs() {
  static int64_t last = -1;
  return last = std::max(last + 1, clockUs());
}

}  // namespace device
