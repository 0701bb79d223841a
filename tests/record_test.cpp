// The record (--record): one JSON object a line, read back exactly, bad
// lines named; and records graded again (tests/data holds a few). What is
// no record at all is refused as the tap's other bad inputs are (tap_relay_test).
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "modes.h"
#include "record.h"

namespace {

using device::RecordEntry;

TEST(RecordTest, ReadsBackWhatItWrote) {
  RecordEntry written;
  written.us = 1036800000000;  // twelve days into a run
  written.event = "message";
  written.dir = "device";
  written.bytes = {0x84, 0x1E, 0x41};
  written.byteUs = {4000000, 4001146, 4002292};
  written.meaning = "key \"a\"\\ and a tab\t";
  written.warnings = {"key-before-fc: sent 90 ms after", "data-bit7: x"};
  std::string line = device::recordLine(written), why;
  EXPECT_EQ(
      line,
      "{\"us\":1036800000000,\"event\":\"message\",\"dir\":\"device\",\"bytes\":\"84 1E 41\","
      "\"byte_us\":[4000000,4001146,4002292],\"meaning\":\"key \\\"a\\\"\\\\ and a tab\\u0009\","
      "\"warnings\":[\"key-before-fc: sent 90 ms after\",\"data-bit7: x\"]}");
  RecordEntry read;
  ASSERT_TRUE(device::parseRecordLine(line, &read, &why)) << why;
  EXPECT_EQ(device::recordLine(read), line);
  EXPECT_EQ(read.meaning, written.meaning);
}

TEST(RecordTest, NamesWhatIsWrongWithALine) {
  struct Row {
    std::string line, why;
  };
  const Row rows[] = {
      {"key a", "not a JSON object at column 1"},
      {"{\"us\":1}", "no \"event\""},
      {"{\"us\":1,\"event\":\"message\",\"colour\":\"red\"}",
       "unknown field \"colour\" at column 36"},
      {"{\"event\":\"message\",\"bytes\":\"84 1G\"}", "a bad value for \"bytes\" at column 35"},
      {"{\"event\":\"message\",\"bytes\":\"84\",\"byte_us\":[1,2]}",
       "\"byte_us\" does not match \"bytes\""},
      {"{\"event\":\"end\"} {", "something after the object at column 17"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.line);
    RecordEntry e;
    std::string why;
    EXPECT_FALSE(device::parseRecordLine(row.line, &e, &why));
    EXPECT_EQ(why, row.why);
  }
}

// Grades a record from tests/data; returns its exit code and what it printed.
int grade(const std::string &name, std::string *printed) {
  testing::internal::CaptureStdout();
  int code = device::runGrade(std::string(TALLIVER_TEST_DATA) + "/" + name);
  *printed = testing::internal::GetCapturedStdout();
  return code;
}

TEST(RecordTest, GradesARecordAgain) {
  const std::tuple<const char *, int, const char *> rows[] = {
      // a line the grading prints
      {"tap-clean.jsonl", device::EXIT_PASSED, "tap: FC latency over 2 keystrokes: p50 177.9 ms"},
      {"tap-warnings.jsonl", device::EXIT_FAILED,
       "   5092.3 !!           warning key-before-fc: keystroke sent 90 ms after the previous "
       "one, before its FC\n"},
      {"tap-warnings.jsonl", device::EXIT_FAILED,
       "tap: line errors: 1 parity or framing error, 1 break: is the device at 9600 8O1?"},
      {"conform-pass.jsonl", device::EXIT_PASSED, "\n7 passed, 0 failed, 0 not graded\n"},
  };
  for (const auto &[file, exitCode, line] : rows) {
    std::string printed;
    EXPECT_EQ(grade(file, &printed), exitCode) << file;
    EXPECT_NE(printed.find(line), std::string::npos) << printed;
  }
}

}  // namespace
