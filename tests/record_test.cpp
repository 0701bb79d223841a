// The record (--record): one JSON object a line, read back exactly, bad
// lines named; and records graded again (tests/data holds a few).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modes.h"
#include "record.h"

namespace {

using device::RecordEntry;

TEST(RecordTest, ReadsBackWhatItWrote) {
  RecordEntry message;
  message.us = 4000000;
  message.event = "message";
  message.dir = "device";
  message.bytes = {0x84, 0x1E, 0x41};
  message.byteUs = {4000000, 4001146, 4002292};
  message.meaning = "key \"a\"\\ and a tab\t";
  message.warnings = {"key-before-fc: sent 90 ms after", "data-bit7: x"};
  RecordEntry start;
  start.event = "start";
  start.mode = "conform";
  start.port = "/dev/ttyUSB0";
  start.seconds = 60;
  start.marksLineErrors = true;
  for (const RecordEntry &written : {message, start}) {
    std::string line = device::recordLine(written), why;
    RecordEntry read;
    ASSERT_TRUE(device::parseRecordLine(line, &read, &why)) << why << "\n" << line;
    EXPECT_EQ(device::recordLine(read), line);
    EXPECT_EQ(read.meaning, written.meaning);
    EXPECT_EQ(read.bytes, written.bytes);
  }
  EXPECT_EQ(
      device::recordLine(message),
      "{\"us\":4000000,\"event\":\"message\",\"dir\":\"device\",\"bytes\":\"84 1E 41\","
      "\"byte_us\":[4000000,4001146,4002292],\"meaning\":\"key \\\"a\\\"\\\\ and a tab\\u0009\","
      "\"warnings\":[\"key-before-fc: sent 90 ms after\",\"data-bit7: x\"]}");
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
      {"{\"us\":\"soon\",\"event\":\"end\"}", "a bad value for \"us\" at column 7"},
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
  struct Row {
    const char *file;
    int exitCode;
    const char *line;  // one line the grading prints
  };
  const Row rows[] = {
      {"tap-clean.jsonl", device::EXIT_PASSED, "tap: FC latency over 2 keystrokes: p50 177.9 ms"},
      {"tap-warnings.jsonl", device::EXIT_FAILED,
       "   5092.3 !!           warning key-before-fc: keystroke sent 90 ms after the previous "
       "one, before its FC\n"},
      {"tap-warnings.jsonl", device::EXIT_FAILED,
       "tap: line errors: 1 parity or framing error, 0 breaks: is the device at 9600 8O1?"},
      {"conform-pass.jsonl", device::EXIT_PASSED, "\n7 passed, 0 failed, 0 not graded\n"},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.file);
    std::string printed;
    EXPECT_EQ(grade(row.file, &printed), row.exitCode);
    EXPECT_NE(printed.find(row.line), std::string::npos) << printed;
  }
}

TEST(RecordTest, RefusesWhatIsNoRecord) {
  std::string printed;
  testing::internal::CaptureStderr();
  EXPECT_EQ(device::runGrade(std::string(TALLIVER_TEST_DATA) + "/no-such-file.jsonl"),
            device::EXIT_USAGE);
  EXPECT_EQ(device::runGrade(std::string(TALLIVER_TEST_DATA) + "/../CMakeLists.txt"),
            device::EXIT_USAGE);
  std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("no-such-file.jsonl: cannot read it\n"), std::string::npos) << errors;
  EXPECT_NE(errors.find("CMakeLists.txt line 1: not a JSON object at column 1\n"),
            std::string::npos)
      << errors;
}

}  // namespace
