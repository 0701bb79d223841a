// The keys a device can type: by name, by their codes, as chords, and the
// key that types a character, on a US layout.
#pragma once

#include <optional>

#include "text.h"

namespace device {

// The held bits of the flags byte: Shift is both of its bits, since the
// program drives its one Shift key from each bit separately.
const uint8_t SHIFT = 0x03, CTRL = 0x04, ALT = 0x08, HELD = 0x0F, LOCKS = 0xF0, CAPS_LOCK = 0x40;

// A key as the line carries it, scan code first, and the held keys it is
// typed with.
struct Key {
  uint8_t scan, vk;
  uint8_t modifiers;  // SHIFT, CTRL and ALT bits
};

// Reads a key as a step writes it: a name ("a", "F4", "enter") or its codes
// ("scan=1E vk=41", either order), after any of "ctrl+", "alt+" and
// "shift+" ("ctrl+c", "ctrl+scan=2E vk=43"). Returns "" and the key, or why
// the text is no key.
std::string parseKey(const std::string &text, Key *key);
// The key that types a character, with Shift where the character needs it.
std::optional<Key> keyForChar(char c);
// "a", or "scan=64 vk=7C" for a key with no name.
std::string keyName(uint8_t scan, uint8_t vk);

}  // namespace device
