// The compiled resources, read back from the .res file the build writes with
// the resource compiler: the notice's dialog template field by field, the
// version record, the icon and the manifest.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "res/version.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// Reads little-endian words and UTF-16 strings from a resource's data.
struct Reader {
  const Bytes &data;
  size_t at = 0;
  uint16_t word() {
    uint16_t w = (uint16_t)(data.at(at) | data.at(at + 1) << 8);
    at += 2;
    return w;
  }
  uint32_t dword() {
    uint32_t low = word();
    return low | (uint32_t)word() << 16;
  }
  int16_t signedWord() { return (int16_t)word(); }
  std::string string() {  // zero-terminated UTF-16, ASCII here
    std::string s;
    for (uint16_t c = word(); c != 0; c = word()) s += (char)c;
    return s;
  }
  // A name or an ordinal: 0xFFFF and a number, or a string ("" for none).
  std::string nameOrOrdinal() {
    if (data.at(at) == 0xFF && data.at(at + 1) == 0xFF) {
      word();
      return "#" + std::to_string(word());
    }
    return string();
  }
  void alignTo4(size_t base = 0) { at = base + (at - base + 3) / 4 * 4; }
};

struct Resource {
  std::string type, name;  // "#5" for an ordinal
  Bytes data;
};

Bytes readFile(const char *path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<Resource> readResFile(const char *path) {
  Bytes file = readFile(path);
  std::vector<Resource> resources;
  Reader r{file};
  while (r.at + 8 <= file.size()) {
    size_t start = r.at;
    uint32_t dataSize = r.dword(), headerSize = r.dword();
    Resource res;
    res.type = r.nameOrOrdinal();
    res.name = r.nameOrOrdinal();
    size_t dataStart = start + headerSize;
    res.data.assign(file.begin() + dataStart, file.begin() + dataStart + dataSize);
    r.at = dataStart + dataSize;
    r.alignTo4();
    if (dataSize > 0) resources.push_back(res);  // the file opens with an empty entry
  }
  return resources;
}

const Resource *find(const std::vector<Resource> &all, const std::string &type,
                     const std::string &name) {
  for (const Resource &r : all)
    if (r.type == type && r.name == name) return &r;
  return nullptr;
}

class ResourceTest : public ::testing::Test {
 protected:
  std::vector<Resource> resources = readResFile(TALLIVER_RES_FILE);
};

const uint32_t WS_CHILD_VISIBLE = 0x50000000, WS_GROUP = 0x00020000, WS_TABSTOP = 0x00010000;
const uint32_t SS_LEFT = 0, SS_ICON = 3, BS_DEFPUSHBUTTON = 1;

TEST_F(ResourceTest, NoticeDialogTemplate) {
  const Resource *dialog = find(resources, "#5", "#400");
  ASSERT_NE(dialog, nullptr) << "dialog 400 in " << TALLIVER_RES_FILE;
  Reader r{dialog->data};
  EXPECT_EQ(r.dword(), 0xC0C802C4u) << "style";
  EXPECT_EQ(r.dword(), 0u) << "extended style";
  uint16_t controls = r.word();
  int16_t x = r.signedWord(), y = r.signedWord(), cx = r.signedWord(), cy = r.signedWord();
  EXPECT_EQ(std::vector<int>({x, y, cx, cy}), std::vector<int>({200, 200, 240, 78}));
  EXPECT_EQ(r.nameOrOrdinal(), "") << "menu";
  EXPECT_EQ(r.nameOrOrdinal(), "") << "class";
  EXPECT_EQ(r.string(), "Ostrel TALLIVER for Windows95/NT");
  EXPECT_EQ(r.word(), 8) << "font size";
  EXPECT_EQ(r.string(), "Helv");

  struct Control {
    int id;
    std::string className;  // #130 static, #128 button
    int x, y, cx, cy;
    uint32_t style;
    std::string text;
  };
  const Control expected[] = {
      {401, "#130", 40, 5, 184, 100, WS_CHILD_VISIBLE | WS_GROUP | SS_LEFT, " "},
      {402, "#130", 150, 63, 23, 10, WS_CHILD_VISIBLE | WS_GROUP | SS_LEFT, " "},
      {1, "#128", 110, 60, 32, 14, WS_CHILD_VISIBLE | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON,
       "OK"},
      {0xFFFF, "#130", 5, 5, 16, 21, WS_CHILD_VISIBLE | SS_ICON, "QELMO"},
  };
  ASSERT_EQ(controls, 4);
  for (const Control &want : expected) {
    SCOPED_TRACE(testing::Message() << "control " << want.id);
    r.alignTo4();
    uint32_t style = r.dword();
    EXPECT_EQ(r.dword(), 0u) << "extended style";
    int16_t cx0 = r.signedWord(), cy0 = r.signedWord(), w = r.signedWord(), h = r.signedWord();
    EXPECT_EQ(r.word(), want.id);
    EXPECT_EQ(style, want.style);
    EXPECT_EQ(std::vector<int>({cx0, cy0, w, h}),
              std::vector<int>({want.x, want.y, want.cx, want.cy}));
    EXPECT_EQ(r.nameOrOrdinal(), want.className);
    EXPECT_EQ(r.nameOrOrdinal(), want.text);
    EXPECT_EQ(r.word(), 0) << "creation data";
  }
}

// The version record's blocks: a length, a value length, a type (1 for
// text), a key, then the value and the child blocks, each 4-byte aligned.
void readVersionBlock(Reader &r, std::map<std::string, std::string> *strings,
                      std::vector<uint32_t> *fixed) {
  size_t start = r.at;
  uint16_t length = r.word(), valueLength = r.word(), type = r.word();
  std::string key = r.string();
  r.alignTo4();
  if (type == 1 && valueLength > 0) {
    (*strings)[key] = r.string();
  } else if (key == "VS_VERSION_INFO") {
    for (int i = 0; i < 13; i++) fixed->push_back(r.dword());
  } else {
    r.at += valueLength;
  }
  r.alignTo4();
  while (r.at < start + length) {
    readVersionBlock(r, strings, fixed);
    r.alignTo4();
  }
  r.at = start + length;
}

TEST_F(ResourceTest, VersionRecord) {
  const Resource *version = find(resources, "#16", "#1");
  ASSERT_NE(version, nullptr);
  Reader r{version->data};
  std::map<std::string, std::string> strings;
  std::vector<uint32_t> fixed;
  readVersionBlock(r, &strings, &fixed);
  // The version is written once, in version.h: the record must carry it.
  EXPECT_EQ(strings["FileVersion"], VERSION_TEXT);
  EXPECT_EQ(strings["ProductVersion"], VERSION_TEXT);
  ASSERT_EQ(fixed.size(), 13u);
  EXPECT_EQ(fixed[0], 0xFEEF04BDu) << "signature";
  const uint32_t numbers[4] = {VERSION_NUMBERS};
  uint32_t high = numbers[0] << 16 | numbers[1], low = numbers[2] << 16 | numbers[3];
  EXPECT_EQ(std::vector<uint32_t>(fixed.begin() + 2, fixed.begin() + 6),
            std::vector<uint32_t>({high, low, high, low}))
      << "file and product version numbers";
}

TEST_F(ResourceTest, IconAndManifest) {
  ASSERT_NE(find(resources, "#14", "QELMO"), nullptr) << "the icon group QELMO";
  // Windows reads the manifest at process creation only as type 24, id 1,
  // and only as the file's bytes unchanged.
  const Resource *manifest = find(resources, "#24", "#1");
  ASSERT_NE(manifest, nullptr);
  EXPECT_EQ(manifest->data, readFile(TALLIVER_MANIFEST_FILE));
}

}  // namespace
