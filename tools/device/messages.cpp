#include "messages.h"

#include "keys.h"

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
      case KEY_STROKE: return "key " + keyName(m.data1, m.data2);
      case SYS_KEY_STROKE: return "system key " + keyName(m.data1, m.data2);
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

}  // namespace device
