// The command line: every mistake named in one line, numbers parsed strictly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "numbers.h"
#include "options.h"

namespace {

using device::Options;

TEST(OptionsTest, NamesEachMistake) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--seconds", "0"},
       "--seconds 0: not a whole number of seconds from 1 to 31622400"},
      {{"tap", "--port", "/dev/ttyUSB0", "--link", "com1", "--speed", "9600"},
       "tap has no option --speed"},
      {{"tap", "--port", "/dev/ttyUSB0"}, "tap needs --link PATH"},
      {{"conform", "--port", "/dev/ttyUSB0", "--line-rate"}, "conform has no option --line-rate"},
      {{"conform", "--port", "", "--seconds", "10"}, "--port needs a value"},
      {{"grade"}, "grade needs a FILE (a record made with --record)"},
      {{"grade", "a.jsonl", "b.jsonl"}, "grade takes one FILE, not also b.jsonl"},
      {{"--link", "com1", "--timeout", "1e3"},
       "--timeout 1e3: not a whole number of milliseconds from 1 to 3600000"},
      {{"--link", "com1", "--tiemout", "100", "key a"}, "no option --tiemout"},
      {{"key a"}, "the simulator needs --link PATH"},
  };
  for (const auto &row : rows) {
    Options o;
    std::string why;
    EXPECT_FALSE(device::parseOptions(row.first, &o, &why)) << row.second;
    EXPECT_EQ(why, row.second);
  }
}

TEST(OptionsTest, ReadsEachMode) {
  Options conform, script, help;
  std::string why;
  ASSERT_TRUE(device::parseOptions({"conform", "--port", "/dev/ttyUSB0"}, &conform, &why));
  EXPECT_EQ(conform.conform.seconds, 60) << "a minute unless told";
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
  for (const char *text : {"5x", " 5", "+5", "-5", "", "0", "86401", "99999999999999999999"}) {
    long v = -1;
    EXPECT_FALSE(device::parseWhole(text, 1, 86400, &v)) << text;
  }
  long v = -1;
  EXPECT_TRUE(device::parseWhole("86400", 1, 86400, &v));
  EXPECT_EQ(v, 86400);
}

TEST(NumbersTest, HexBytes) {
  const std::pair<const char *, int> rows[] = {
      // -1: not a byte
      {"84", 0x84}, {"fc", 0xFC}, {"0x41", 0x41}, {"7", 7}, {"100", -1},
      {"0x", -1},   {"g1", -1},   {" 41", -1},    {"", -1}, {"-1", -1}};
  for (const auto &row : rows) {
    int v = -1;
    EXPECT_EQ(device::parseHexByte(row.first, &v), row.second >= 0) << row.first;
    EXPECT_EQ(v, row.second) << row.first;
  }
}

}  // namespace
