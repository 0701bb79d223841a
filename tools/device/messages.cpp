#include "messages.h"

#include <cctype>
#include <cstdio>
#include <map>

namespace device {

Bytes encode(int command, bool threeByte, int data1, int data2) {
  uint8_t header = (uint8_t)(0x80 | (command << 2));
  if (!threeByte) return {(uint8_t)(header | 0x40)};
  header |= (uint8_t)(((data1 >> 7) & 1) | (((data2 >> 7) & 1) << 1));
  return {header, (uint8_t)(data1 & 0x7F), (uint8_t)(data2 & 0x7F)};
}

std::optional<Message> Decoder::feed(uint8_t byte) {
  slot[count++] = byte;
  if (!(count == 1 && (slot[0] & 0x40)) && count != 3) return std::nullopt;
  Message m;
  m.bytes.assign(slot, slot + count);
  m.command = (slot[0] >> 2) & 0x0F;
  m.data1 = (uint8_t)(slot[1] | ((slot[0] & 1) << 7));
  m.data2 = (uint8_t)(slot[2] | (((slot[0] >> 1) & 1) << 7));
  count = 0;
  return m;
}

namespace {
// US layout: the virtual-key code and set-1 scan code of each named key.
const std::map<std::string, Key> &namedKeys() {
  static const std::map<std::string, Key> keys = [] {
    std::map<std::string, Key> k;
    const char *rows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
    const uint8_t firstScan[] = {0x02, 0x10, 0x1E, 0x2C};
    for (int r = 0; r < 4; r++)
      for (int i = 0; rows[r][i]; i++)
        k[std::string(1, rows[r][i])] = {(uint8_t)std::toupper(rows[r][i]),
                                         (uint8_t)(firstScan[r] + i), false};
    for (int f = 1; f <= 12; f++)
      k["f" + std::to_string(f)] = {(uint8_t)(0x6F + f), (uint8_t)(f <= 10 ? 0x3A + f : 0x4C + f),
                                    false};
    const struct {
      const char *name;
      uint8_t vk, scan;
    } others[] = {{"space", 0x20, 0x39},     {"enter", 0x0D, 0x1C},    {"tab", 0x09, 0x0F},
                  {"backspace", 0x08, 0x0E}, {"escape", 0x1B, 0x01},   {"left", 0x25, 0x4B},
                  {"up", 0x26, 0x48},        {"right", 0x27, 0x4D},    {"down", 0x28, 0x50},
                  {"home", 0x24, 0x47},      {"end", 0x23, 0x4F},      {"pageup", 0x21, 0x49},
                  {"pagedown", 0x22, 0x51},  {"capslock", 0x14, 0x3A}, {"-", 0xBD, 0x0C},
                  {"=", 0xBB, 0x0D},         {"[", 0xDB, 0x1A},        {"]", 0xDD, 0x1B},
                  {";", 0xBA, 0x27},         {"'", 0xDE, 0x28},        {"`", 0xC0, 0x29},
                  {"\\", 0xDC, 0x2B},        {",", 0xBC, 0x33},        {".", 0xBE, 0x34},
                  {"/", 0xBF, 0x35}};
    for (const auto &o : others) k[o.name] = {o.vk, o.scan, false};
    return k;
  }();
  return keys;
}

std::string keyLabel(uint8_t vk, uint8_t scan) {
  for (const auto &named : namedKeys())
    if (named.second.vk == vk && named.second.scan == scan) return named.first;
  return format("0x%02X:0x%02X", vk, scan);
}

std::string flagsText(uint8_t flags) {
  static const char *names[8] = {"RShift", "LShift", "Ctrl", "Alt",
                                 "Scroll", "Num",    "Caps", "Insert"};
  std::string text;
  for (int bit = 7; bit >= 0; bit--)
    if (flags & (1 << bit)) text += std::string(text.empty() ? "" : "+") + names[bit];
  return format(" (%s)", text.empty() ? "none" : text.c_str());
}
}  // namespace

std::string describe(const Message &m, bool fromDevice) {
  if (fromDevice) {
    switch (m.command) {
      case KEY_STROKE: return "key " + keyLabel(m.data2, m.data1);
      case SYS_KEY_STROKE: return "system key " + keyLabel(m.data2, m.data1);
      case MODIFIER_FLAGS: return format("set flags 0x%02X", m.data2) + flagsText(m.data2);
      case QUERY_FLAGS: return "query flags";
      case IDENTIFY: return "identify";
    }
  }
  switch (m.command) {
    case KEY_DONE: return "key done";
    case IDENTITY: return format("identity %d, %d", m.data1, m.data2);
    case MODIFIER_FLAGS: return format("modifier flags 0x%02X", m.data2) + flagsText(m.data2);
    case KEY_STROKE:
    case SYS_KEY_STROKE:
      return format("%s scan 0x%02X, vk 0x%02X",
                    m.command == KEY_STROKE ? "key stroke" : "system key stroke", m.data1, m.data2);
    default: return format("command %d%s", m.command, m.bytes.size() == 1 ? " (one byte)" : "");
  }
}

std::optional<Key> keyNamed(const std::string &name) {
  unsigned vk, scan;
  char rest;
  if (std::sscanf(name.c_str(), "%x:%x%c", &vk, &scan, &rest) == 2 && vk < 256 && scan < 256)
    return Key{(uint8_t)vk, (uint8_t)scan, false};
  std::string lower;
  for (char c : name) lower += (char)std::tolower((unsigned char)c);
  auto it = namedKeys().find(lower);
  if (it == namedKeys().end()) return std::nullopt;
  return it->second;
}

std::optional<Key> keyForChar(char c) {
  static const char shiftedFrom[] = "!1@2#3$4%5^6&7*8(9)0_-+={[}]:;\"'~`|\\<,>.?/";
  if (c == ' ') return keyNamed("space");
  if (c == '\n') return keyNamed("enter");
  char base = (char)std::tolower((unsigned char)c);
  for (const char *p = shiftedFrom; *p; p += 2)
    if (*p == c) base = p[1];
  if (base == c && !std::isupper((unsigned char)c)) return keyNamed(std::string(1, c));
  auto key = keyNamed(std::string(1, base));
  if (key) key->shifted = true;
  return key;
}

}  // namespace device
