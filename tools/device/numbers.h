// Numbers from the command line and from scripts, parsed strictly: the
// whole text is the number ("5x", " 5", "+5" and "" are not numbers).
#pragma once

#include <string>

namespace device {

// Decimal digits only (18 at most), within [min, max].
bool parseWhole(const std::string &text, long min, long max, long *value);
// One byte in hex: one or two hex digits, optionally after "0x".
bool parseHexByte(const std::string &text, int *value);

}  // namespace device
