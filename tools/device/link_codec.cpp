#include "link_codec.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "format.h"

namespace device {

std::vector<uint8_t> encode(int command, bool threeByte, int data1, int data2) {
  uint8_t header = (uint8_t)(0x80 | (command << 2));
  if (!threeByte) return {(uint8_t)(header | 0x40)};
  header |= (uint8_t)(((data1 >> 7) & 1) | (((data2 >> 7) & 1) << 1));
  return {header, (uint8_t)(data1 & 0x7F), (uint8_t)(data2 & 0x7F)};
}

std::optional<Message> Decoder::feed(uint8_t byte) {
  slot_[count_++] = byte;
  if (!(count_ == 1 && (slot_[0] & 0x40)) && count_ != 3) return std::nullopt;
  Message m;
  m.bytes.assign(slot_, slot_ + count_);
  m.command = (slot_[0] >> 2) & 0x0F;
  m.data1 = (uint8_t)(slot_[1] | ((slot_[0] & 1) << 7));
  m.data2 = (uint8_t)(slot_[2] | (((slot_[0] >> 1) & 1) << 7));
  count_ = 0;
  return m;
}

std::string hex(const std::vector<uint8_t> &bytes) {
  std::string text;
  char b[4];
  for (uint8_t byte : bytes) {
    std::snprintf(b, sizeof b, "%s%02X", text.empty() ? "" : " ", byte);
    text += b;
  }
  return text;
}

namespace {
std::string flagsText(uint8_t flags) {
  static const char *names[8] = {"RShift", "LShift", "Ctrl", "Alt",
                                 "Scroll", "Num",    "Caps", "Insert"};
  std::string text;
  for (int bit = 7; bit >= 0; bit--)
    if (flags & (1 << bit)) text += std::string(text.empty() ? "" : "+") + names[bit];
  return text.empty() ? "none" : text;
}
}  // namespace

std::string describe(const Message &m) {
  bool oneByte = m.bytes.size() == 1;
  switch (m.command) {
    case KEY_DONE: return "key done";
    case IDENTITY: return format("identity %d, %d", m.data1, m.data2);
    case MODIFIER_FLAGS:
      return format("modifier flags 0x%02X", m.data2) + " (" + flagsText(m.data2) + ")";
    case KEY_STROKE:
    case SYS_KEY_STROKE:
      return std::string(m.command == KEY_STROKE ? "key stroke" : "system key stroke") +
             format(" scan 0x%02X, vk 0x%02X", m.data1, m.data2);
    default: return format("command %d", m.command) + (oneByte ? " (one byte)" : "");
  }
}

namespace {
// US layout: virtual-key code and set-1 scan code of each named key.
const std::map<std::string, Key> &namedKeys() {
  static const std::map<std::string, Key> keys = [] {
    std::map<std::string, Key> k;
    const char *rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    const uint8_t firstScan[] = {0x10, 0x1E, 0x2C};
    for (int r = 0; r < 3; r++)
      for (int i = 0; rows[r][i]; i++)
        k[std::string(1, rows[r][i])] = {(uint8_t)std::toupper(rows[r][i]),
                                         (uint8_t)(firstScan[r] + i), false};
    for (int d = 1; d <= 10; d++)
      k[std::string(1, (char)('0' + d % 10))] = {(uint8_t)('0' + d % 10), (uint8_t)(0x01 + d),
                                                 false};
    for (int f = 1; f <= 12; f++)
      k["f" + std::to_string(f)] = {(uint8_t)(0x6F + f), (uint8_t)(f <= 10 ? 0x3A + f : 0x4C + f),
                                    false};
    k["space"] = {0x20, 0x39, false};
    k["enter"] = {0x0D, 0x1C, false};
    k["tab"] = {0x09, 0x0F, false};
    k["backspace"] = {0x08, 0x0E, false};
    k["escape"] = {0x1B, 0x01, false};
    k["left"] = {0x25, 0x4B, false};
    k["up"] = {0x26, 0x48, false};
    k["right"] = {0x27, 0x4D, false};
    k["down"] = {0x28, 0x50, false};
    k["home"] = {0x24, 0x47, false};
    k["end"] = {0x23, 0x4F, false};
    k["pageup"] = {0x21, 0x49, false};
    k["pagedown"] = {0x22, 0x51, false};
    k["capslock"] = {0x14, 0x3A, false};
    k["-"] = {0xBD, 0x0C, false};
    k["="] = {0xBB, 0x0D, false};
    k["["] = {0xDB, 0x1A, false};
    k["]"] = {0xDD, 0x1B, false};
    k[";"] = {0xBA, 0x27, false};
    k["'"] = {0xDE, 0x28, false};
    k["`"] = {0xC0, 0x29, false};
    k["\\"] = {0xDC, 0x2B, false};
    k[","] = {0xBC, 0x33, false};
    k["."] = {0xBE, 0x34, false};
    k["/"] = {0xBF, 0x35, false};
    return k;
  }();
  return keys;
}
}  // namespace

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
  if (std::isupper((unsigned char)c)) {
    auto key = keyNamed(std::string(1, (char)std::tolower(c)));
    if (key) key->shifted = true;
    return key;
  }
  for (const char *p = shiftedFrom; *p; p += 2) {
    if (*p == c) {
      auto key = keyNamed(std::string(1, p[1]));
      if (key) key->shifted = true;
      return key;
    }
  }
  return keyNamed(std::string(1, c));
}

}  // namespace device

namespace device {

std::string keyLabel(uint8_t vk, uint8_t scan) {
  for (const auto &named : namedKeys())
    if (named.second.vk == vk && named.second.scan == scan) return named.first;
  char label[16];
  std::snprintf(label, sizeof label, "0x%02X:0x%02X", vk, scan);
  return label;
}

std::string describeRequest(const Message &m) {
  switch (m.command) {
    case KEY_STROKE: return "key " + keyLabel(m.data2, m.data1);
    case SYS_KEY_STROKE: return "system key " + keyLabel(m.data2, m.data1);
    case MODIFIER_FLAGS:
      return format("set flags 0x%02X", m.data2) + " (" + flagsText(m.data2) + ")";
    case QUERY_MODIFIERS: return "query flags";
    case IDENTIFY: return "identify";
    default: return describe(m);
  }
}

}  // namespace device
