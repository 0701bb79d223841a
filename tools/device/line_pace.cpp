#include "line_pace.h"

#include <algorithm>
#include <cmath>

namespace device {

void LinePace::waiting(double ms) {
  if (!idle_) return;
  startMs_ = std::max(startMs_, ms);
  idle_ = false;
}

size_t LinePace::crossed(double ms, size_t count) const {
  if (idle_ || ms < startMs_) return 0;
  double bytes = std::floor((ms - startMs_) / LINE_BYTE_MS);
  return std::min(count, (size_t)bytes);
}

void LinePace::taken(size_t count, size_t left) {
  startMs_ += (double)count * LINE_BYTE_MS;
  idle_ = left == 0;
}

}  // namespace device
