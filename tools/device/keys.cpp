#include "keys.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "modes.h"
#include "sink.h"

namespace device {

namespace {
struct NamedKey {
  std::string name;
  uint8_t scan, vk;
};

// The set-1 scan code and virtual-key code of each named key, in the
// order of the scan codes, which is the keyboard's own.
const std::vector<NamedKey> &namedKeys() {
  static const std::vector<NamedKey> keys = [] {
    std::vector<NamedKey> k = {
        {"escape", 0x01, 0x1B},    {"-", 0x0C, 0xBD},        {"=", 0x0D, 0xBB},
        {"backspace", 0x0E, 0x08}, {"tab", 0x0F, 0x09},      {"[", 0x1A, 0xDB},
        {"]", 0x1B, 0xDD},         {"enter", 0x1C, 0x0D},    {";", 0x27, 0xBA},
        {"'", 0x28, 0xDE},         {"`", 0x29, 0xC0},        {"\\", 0x2B, 0xDC},
        {",", 0x33, 0xBC},         {".", 0x34, 0xBE},        {"/", 0x35, 0xBF},
        {"space", 0x39, 0x20},     {"capslock", 0x3A, 0x14}, {"home", 0x47, 0x24},
        {"up", 0x48, 0x26},        {"pageup", 0x49, 0x21},   {"left", 0x4B, 0x25},
        {"right", 0x4D, 0x27},     {"end", 0x4F, 0x23},      {"down", 0x50, 0x28},
        {"pagedown", 0x51, 0x22},  {"insert", 0x52, 0x2D},   {"delete", 0x53, 0x2E},
        {"f11", 0x57, 0x7A},       {"f12", 0x58, 0x7B}};
    const char *rows[] = {"1234567890", "qwertyuiop", "asdfghjkl", "zxcvbnm"};
    const uint8_t firstScan[] = {0x02, 0x10, 0x1E, 0x2C};
    for (int r = 0; r < 4; r++)
      for (int i = 0; rows[r][i]; i++)
        k.push_back({std::string(1, rows[r][i]), (uint8_t)(firstScan[r] + i),
                     (uint8_t)std::toupper(rows[r][i])});
    for (int f = 1; f <= 10; f++)
      k.push_back({"f" + std::to_string(f), (uint8_t)(0x3A + f), (uint8_t)(0x6F + f)});
    std::sort(k.begin(), k.end(), [](auto &a, auto &b) { return a.scan < b.scan; });
    return k;
  }();
  return keys;
}

// Every named key with its codes, a line each.
std::vector<std::string> keyTable() {
  std::vector<std::string> table = {"name       scan  vk"};
  for (const NamedKey &k : namedKeys())
    table.push_back(format("%-10s %02X    %02X", k.name.c_str(), k.scan, k.vk));
  return table;
}

std::string lower(const std::string &text) {
  std::string low;
  for (char c : text) low += (char)std::tolower((unsigned char)c);
  return low;
}

// "scan=1E vk=41", in either order, each once.
bool parseCodes(const std::string &text, Key *key) {
  Bytes scan, vk;
  std::istringstream words(lower(text));
  for (std::string word; words >> word;) {
    size_t equals = word.find('=');
    Bytes *field = word.compare(0, equals, "scan") == 0 ? &scan
                   : word.compare(0, equals, "vk") == 0 ? &vk
                                                        : nullptr;
    if (equals == std::string::npos || !field || !field->empty() ||
        !parseHexBytes(word.substr(equals + 1), field) || field->size() != 1)
      return false;
  }
  if (scan.empty() || vk.empty()) return false;
  key->scan = scan[0], key->vk = vk[0];
  return true;
}
}  // namespace

std::string parseKey(const std::string &text, Key *key) {
  std::string rest = text;
  uint8_t modifiers = 0;
  for (size_t plus; (plus = rest.find('+')) != std::string::npos && plus > 0;) {
    std::string name = lower(rest.substr(0, plus));
    uint8_t bit = name == "ctrl" ? CTRL : name == "alt" ? ALT : name == "shift" ? SHIFT : 0;
    if (!bit) return "'" + rest.substr(0, plus) + "' is no modifier: ctrl, alt or shift";
    modifiers |= bit;
    rest.erase(0, plus + 1);
  }
  if (rest.empty()) return "no key after '" + text + "' (a chord is written ctrl+c)";
  unsigned vk, scan;
  char more;
  if (std::sscanf(rest.c_str(), "%x:%x%c", &vk, &scan, &more) == 2 && vk < 256 && scan < 256)
    return format(
        "a key's codes are written scan=%02X vk=%02X, the scan code first as the "
        "line carries it",
        scan, vk);
  std::string low = lower(rest);
  if (low.compare(0, 5, "scan=") == 0 || low.compare(0, 3, "vk=") == 0) {
    if (!parseCodes(rest, key))
      return "a key by its codes takes scan=HEX and vk=HEX, each once: scan=1E vk=41";
    return key->modifiers = modifiers, "";
  }
  for (const NamedKey &k : namedKeys())
    if (k.name == low) return *key = {k.scan, k.vk, modifiers}, "";
  return "no key named '" + rest + "' (talliver-device keys lists them)";
}

std::optional<Key> keyForChar(char c) {
  static const char shiftedFrom[] = "!1@2#3$4%5^6&7*8(9)0_-+={[}]:;\"'~`|\\<,>.?/";
  std::string name = c == ' ' ? "space" : std::string(1, (char)std::tolower((unsigned char)c));
  uint8_t modifiers = std::isupper((unsigned char)c) ? SHIFT : 0;
  for (const char *p = shiftedFrom; *p; p += 2)
    if (*p == c) name = std::string(1, p[1]), modifiers = SHIFT;
  for (const NamedKey &k : namedKeys())
    if (k.name == name) return Key{k.scan, k.vk, modifiers};
  return std::nullopt;
}

std::string keyName(uint8_t scan, uint8_t vk) {
  for (const NamedKey &k : namedKeys())
    if (k.scan == scan && k.vk == vk) return k.name;
  return format("scan=%02X vk=%02X", scan, vk);
}

Outcome runKeys(const Options &) {
  Transcript out(true);
  for (const std::string &line : keyTable()) out.line(line);
  return out.finish(Outcome());
}

}  // namespace device
