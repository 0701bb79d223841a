// printf-style formatting into a std::string, for transcript lines and
// warnings.
#pragma once

#include <string>

namespace device {

std::string format(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace device
