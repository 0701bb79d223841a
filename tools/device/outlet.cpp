#include "outlet.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace device {

size_t Outlet::push(const std::vector<uint8_t> &bytes, double ms) {
  if (bytes.empty()) return 0;
  pace_.waiting(ms);
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  flush(ms);  // a failing side shows at the caller's own flush
  size_t excess = pending_.size() > holdLimit_ ? pending_.size() - holdLimit_ : 0;
  pending_.resize(pending_.size() - excess);
  dropped_ += (long)excess;
  return bytes.size() - excess;
}

bool Outlet::flush(double ms) {
  if (fd_ < 0 || pending_.empty()) return true;
  size_t due = paced_ ? pace_.crossed(ms, pending_.size()) : pending_.size();
  while (due > 0) {
    uint8_t chunk[4096];
    size_t n = std::min(due, sizeof chunk);
    std::copy(pending_.begin(), pending_.begin() + (long)n, chunk);
    ssize_t written = ::write(fd_, chunk, n);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      stalled_ = true;
      break;
    }
    if (written < 0) return false;
    pending_.erase(pending_.begin(), pending_.begin() + written);
    due -= (size_t)written;
    if (paced_) pace_.taken((size_t)written, pending_.size());
    if ((size_t)written < n) {
      stalled_ = true;
      break;
    }
  }
  if (pending_.empty()) stalled_ = false;
  return true;
}

std::vector<uint8_t> Outlet::discard() {
  std::vector<uint8_t> bytes(pending_.begin(), pending_.end());
  pending_.clear();
  pace_.taken(0, 0);
  stalled_ = false;
  return bytes;
}

double Outlet::nextMs() const {
  if (!paced_ || pending_.empty() || stalled_) return -1;
  return pace_.nextMs();
}

Outlet::Change Outlet::change() {
  if (stalled_ && !reported_) {
    reported_ = true;
    return STOPPED;
  }
  if (!stalled_ && reported_) {
    reported_ = false;
    return TAKING;
  }
  return NONE;
}

}  // namespace device
