#include "write_all.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace device {

bool writeAll(int fd, const uint8_t *bytes, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, 100);
      continue;
    }
    if (n <= 0) return false;
    done += (size_t)n;
  }
  return true;
}

}  // namespace device
