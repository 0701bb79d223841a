// The command line: every mistake named in one line, numbers parsed strictly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "numbers.h"
#include "options.h"

namespace {

using device::Options;

TEST(OptionsTest, NamesEachMistake) {
  struct Row {
    std::vector<std::string> args;
    std::string why;
  };
  const Row rows[] = {
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--seconds", "5x"},
       "--seconds 5x: not a whole number of seconds from 1 to 31622400"},
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--seconds", "0"},
       "--seconds 0: not a whole number of seconds from 1 to 31622400"},
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--seconds"}, "--seconds needs a value"},
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--speed", "9600"},
       "tap has no option --speed"},
      {{"tap", "--port", "/dev/ttyUSB0"}, "tap needs --link PATH"},
      {{"tap", "--link", "com1"}, "tap needs --port DEVICE"},
      {{"conform", "--port", "/dev/ttyUSB0", "--line-rate"}, "conform has no option --line-rate"},
      {{"conform", "--port", "", "--seconds", "10"}, "--port needs a value"},
      {{"conform"}, "conform needs --port DEVICE"},
      {{"grade"}, "grade needs a FILE (a record made with --record)"},
      {{"grade", "a.jsonl", "b.jsonl"}, "grade takes one FILE, not also b.jsonl"},
      {{"grade", "--seconds", "3"}, "grade has no option --seconds"},
      {{"--link", "com1", "--timeout", "1e3"},
       "--timeout 1e3: not a whole number of milliseconds from 1 to 3600000"},
      {{"--link", "com1", "--tiemout", "100", "key a"}, "no option --tiemout"},
      {{"key a"}, "the simulator needs --link PATH"},
      {{}, "the simulator needs --link PATH"},
  };
  for (const Row &row : rows) {
    Options o;
    std::string why;
    EXPECT_FALSE(device::parseOptions(row.args, &o, &why)) << row.why;
    EXPECT_EQ(why, row.why);
  }
}

TEST(OptionsTest, ReadsEachMode) {
  Options tap, conform, grade, script, help;
  std::string why;
  ASSERT_TRUE(
      device::parseOptions({"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--log", "t.log",
                            "--record", "t.jsonl", "--seconds", "90", "--line-rate"},
                           &tap, &why))
      << why;
  EXPECT_EQ(tap.mode, Options::TAP);
  EXPECT_EQ(tap.tap.record, "t.jsonl");
  EXPECT_EQ(tap.tap.seconds, 90);
  EXPECT_TRUE(tap.tap.lineRate);
  ASSERT_TRUE(device::parseOptions({"conform", "--port", "/dev/ttyUSB0"}, &conform, &why));
  EXPECT_EQ(conform.conform.seconds, 60) << "a minute unless told";
  ASSERT_TRUE(device::parseOptions({"grade", "t.jsonl"}, &grade, &why));
  EXPECT_EQ(grade.gradeFile, "t.jsonl");
  ASSERT_TRUE(device::parseOptions(
      {"--link", "com1", "--line-rate", "identify", "key a", "-", "--timeout", "500"}, &script,
      &why));
  EXPECT_EQ(script.commands, (std::vector<std::string>{"identify", "key a"}));
  EXPECT_TRUE(script.fromStdin && script.lineRate);
  EXPECT_EQ(script.timeoutMs, 500);
  ASSERT_TRUE(device::parseOptions({"tap", "--seconds", "x", "--help"}, &help, &why));
  EXPECT_EQ(help.mode, Options::HELP) << "--help wins over any mistake";
}

TEST(NumbersTest, TheWholeTextIsTheNumber) {
  struct Row {
    const char *text;
    bool whole;
    long value;
  };
  const Row rows[] = {{"5", true, 5},      {"86400", true, 86400},
                      {"5x", false, 0},    {" 5", false, 0},
                      {"+5", false, 0},    {"-5", false, 0},
                      {"", false, 0},      {"0", false, 0},
                      {"86401", false, 0}, {"99999999999999999999", false, 0}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    long v = -1;
    EXPECT_EQ(device::parseWhole(row.text, 1, 86400, &v), row.whole);
    if (row.whole) {
      EXPECT_EQ(v, row.value);
    }
  }
}

TEST(NumbersTest, HexBytes) {
  struct Row {
    const char *text;
    int value;  // -1: not a byte
  };
  const Row rows[] = {{"84", 0x84}, {"fc", 0xFC}, {"0x41", 0x41}, {"7", 7}, {"100", -1},
                      {"0x", -1},   {"g1", -1},   {" 41", -1},    {"", -1}, {"-1", -1}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    int v = -1;
    EXPECT_EQ(device::parseHexByte(row.text, &v), row.value >= 0);
    if (row.value >= 0) {
      EXPECT_EQ(v, row.value);
    }
  }
}

}  // namespace
