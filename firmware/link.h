// The serial line to the program, as the session writes to it.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Sends a few whole messages (eight bytes at most) in one call: bytes that
// leave back to back, never interleaved with others. The platform provides it.
void link_write(const uint8_t *bytes, uint8_t count);

#ifdef __cplusplus
}
#endif
