#include "line_sink.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace device {

// Shared with the writing thread, which may outlive the sink when its
// reader never reads again.
struct LineSink::Shared {
  int fd;
  bool closeWhenDone, waits;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> lines;
  size_t heldBytes = 0;
  long droppedUnsaid = 0;  // dropped, not yet told to the reader
  bool ending = false;
  bool finished = false;
};

namespace {
// False when the reader has gone (a closed pipe): nothing more is written.
bool writeText(int fd, const std::string &text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

void writeLines(std::shared_ptr<LineSink::Shared> s) {
  bool readerThere = true;
  std::unique_lock<std::mutex> lock(s->mutex);
  for (;;) {
    s->changed.wait(lock, [&] { return !s->lines.empty() || s->droppedUnsaid > 0 || s->ending; });
    if (s->lines.empty() && s->droppedUnsaid == 0) break;
    std::string text;
    if (s->droppedUnsaid > 0) {
      text = "(" + std::to_string(s->droppedUnsaid) +
             " lines were dropped here: they were not read in time)\n";
      s->droppedUnsaid = 0;
    }
    while (!s->lines.empty() && text.size() < 65536) {
      text += s->lines.front() + "\n";
      s->heldBytes -= s->lines.front().size() + 1;
      s->lines.pop_front();
    }
    lock.unlock();
    if (readerThere) readerThere = writeText(s->fd, text);
    lock.lock();
    s->changed.notify_all();
  }
  if (s->closeWhenDone) close(s->fd);
  s->finished = true;
  s->changed.notify_all();
}
}  // namespace

LineSink::LineSink(int fd, bool closeWhenDone, bool waits) : shared_(std::make_shared<Shared>()) {
  shared_->fd = fd;
  shared_->closeWhenDone = closeWhenDone;
  shared_->waits = waits;
  std::thread(writeLines, shared_).detach();
}

LineSink::~LineSink() {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->ending = true;
  shared_->changed.notify_all();
  auto finished = [&] { return shared_->finished; };
  if (shared_->waits)
    shared_->changed.wait(lock, finished);
  else
    shared_->changed.wait_for(lock, std::chrono::milliseconds(LINGER_MS), finished);
}

void LineSink::line(const std::string &text) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  auto room = [&] { return shared_->heldBytes + text.size() + 1 <= HOLD_BYTES; };
  if (shared_->waits) shared_->changed.wait(lock, [&] { return room() || shared_->lines.empty(); });
  if (!room() && !shared_->lines.empty()) {
    shared_->droppedUnsaid++;
    return;
  }
  shared_->lines.push_back(text);
  shared_->heldBytes += text.size() + 1;
  shared_->changed.notify_all();
}

}  // namespace device
