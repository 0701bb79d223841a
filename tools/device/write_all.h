// Writing every byte to a non-blocking descriptor (a pty's master, a serial
// port), waiting while its buffer is full.
#pragma once

#include <cstddef>
#include <cstdint>

namespace device {

// False when the descriptor fails: the other end has gone.
bool writeAll(int fd, const uint8_t *bytes, size_t size);

}  // namespace device
