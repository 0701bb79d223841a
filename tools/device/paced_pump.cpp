#include "paced_pump.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <stdexcept>

namespace device {

namespace {
const size_t SEND_AHEAD = 4;        // bytes trySend queues beyond the one on the line
const double LONGEST_WAIT_MS = 50;  // the thread looks at least this often
}  // namespace

PacedPump::PacedPump(int masterFd) : master_(masterFd) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw std::runtime_error("eventfd failed");
  thread_ = std::thread(&PacedPump::run, this);
}

PacedPump::~PacedPump() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake();
  thread_.join();
  close(wakeFd_);
}

double PacedPump::nowMs() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
      .count();
}

void PacedPump::wake() {
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
}

void PacedPump::send(const std::vector<uint8_t> &bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outPace_.waiting(nowMs());
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }
  wake();
}

size_t PacedPump::trySend(const std::vector<uint8_t> &bytes) {
  size_t taken;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    taken = std::min(bytes.size(), out_.size() < SEND_AHEAD ? SEND_AHEAD - out_.size() : 0);
    if (taken == 0) return 0;
    outPace_.waiting(nowMs());
    out_.insert(out_.end(), bytes.begin(), bytes.begin() + (long)taken);
  }
  wake();
  return taken;
}

std::vector<uint8_t> PacedPump::receive(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  received_.wait_until(lock, deadline, [&] { return !in_.empty(); });
  std::vector<uint8_t> bytes(in_.begin(), in_.end());
  in_.clear();
  return bytes;
}

size_t PacedPump::mostWaiting() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mostWaiting_;
}

void PacedPump::run() {
  bool outStalled = false;
  for (;;) {
    double now = nowMs();
    double nextMs = now + LONGEST_WAIT_MS;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (stop_) return;

      // Out: the bytes whose time on the line is over.
      size_t due = outPace_.crossed(now, out_.size());
      if (due > 0) {
        std::vector<uint8_t> bytes(out_.begin(), out_.begin() + (long)due);
        ssize_t n = ::write(master_, bytes.data(), bytes.size());
        size_t written = n > 0 ? (size_t)n : 0;
        outStalled = written < due;
        out_.erase(out_.begin(), out_.begin() + (long)written);
        outPace_.taken(written, out_.size());
      }
      if (!out_.empty() && !outStalled) nextMs = std::min(nextMs, outPace_.nextMs());

      // In: the program's bytes, no faster than the line carries them.
      int waiting = 0;
      if (ioctl(master_, FIONREAD, &waiting) != 0) waiting = 0;
      mostWaiting_ = std::max(mostWaiting_, (size_t)waiting);
      if (waiting > 0) {
        inPace_.waiting(now);
        size_t take = inPace_.crossed(now, (size_t)waiting);
        if (take > 0) {
          uint8_t buffer[4096];
          ssize_t n = ::read(master_, buffer, std::min(take, sizeof buffer));
          size_t got = n > 0 ? (size_t)n : 0;
          in_.insert(in_.end(), buffer, buffer + got);
          inPace_.taken(got, (size_t)waiting - got);
          if (got > 0) received_.notify_all();
        }
      } else if (!inPace_.idle()) {
        inPace_.taken(0, 0);
      }
      if (!inPace_.idle()) nextMs = std::min(nextMs, inPace_.nextMs());
    }

    short masterEvents = (short)((inPace_.idle() ? POLLIN : 0) | (outStalled ? POLLOUT : 0));
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {master_, masterEvents, 0}};
    double waitMs = std::max(0.0, nextMs - nowMs());
    timespec wait = {(time_t)(waitMs / 1000), (long)std::fmod(waitMs * 1e6, 1e9)};
    ppoll(fds, 2, &wait, nullptr);
    uint64_t count;
    if (fds[0].revents & POLLIN) (void)!::read(wakeFd_, &count, sizeof count);
  }
}

}  // namespace device
