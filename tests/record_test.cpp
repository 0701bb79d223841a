// The record: one JSON object a line, read back exactly; records graded
// again (tests/data holds a few), and what is not a record refused with the
// line that shows it, while a record cut short is graded up to its cut.
#include <gtest/gtest.h>

#include "record.h"
#include "tool_checks.h"

namespace {

using tool::Folder;
using tool::Tool;

TEST(RecordTest, ReadsBackWhatItWrote) {
  device::Entry written;
  written.us = 1036800000000;  // twelve days into a run
  written.event = device::Event::Message;
  written.dir = "device";
  written.bytes = {0x84, 0x1E, 0x41};
  written.byteUs = {4000000, 4001146, 4002292};
  written.meaning = "key \"a\"\\ and a tab\t";
  written.warnings = {"key-before-fc: sent 90 ms after", "data-bit7: x"};
  std::string line = device::recordLine(written), why;
  EXPECT_EQ(line,
            "{\"us\":1036800000000,\"event\":\"message\",\"dir\":\"device\",\"bytes\":\"84 1E "
            "41\",\"byte_us\":[4000000,4001146,4002292],\"meaning\":\"key \\\"a\\\"\\\\ and a "
            "tab\\u0009\",\"warnings\":[\"key-before-fc: sent 90 ms after\",\"data-bit7: x\"]}");
  device::Entry read;
  ASSERT_TRUE(device::parseRecordLine(line, &read, &why)) << why;
  EXPECT_EQ(device::recordLine(read), line);
}

TEST(RecordTest, GradesARecordAgainOrSaysWhyNot) {
  Folder folder;
  const std::string data = TALLIVER_TEST_DATA, clean = tool::readFile(data + "/tap-clean.jsonl");
  auto lines = [&](size_t from, size_t to) {  // lines [from, to) of the clean record, 1-based
    std::string text;
    std::istringstream in(clean);
    size_t n = 1;
    for (std::string line; std::getline(in, line); n++)
      if (n >= from && n < to) text += line + "\n";
    return text;
  };
  const std::string end = lines(10, 11), message = lines(8, 9);
  const struct {
    const char *what, *file;
    std::string text;  // written to the folder, unless `file` is in tests/data
    int code;
    std::string says;  // on standard output for a record, on standard error for none
  } rows[] = {
      {"clean", "tap-clean.jsonl", "", 0, "tap: FC latency over 2 keystrokes: p50 177.9 ms"},
      {"warnings", "tap-warnings.jsonl", "", 1,
       "   5092.3 !!           warning key-before-fc: keystroke sent 90 ms after the previous "
       "one, before its FC\n"},
      {"conformance", "conform-pass.jsonl", "", 0, "\n8 passed, 0 failed, 0 not graded\n"},
      {"cut mid-line", "cut", lines(1, 8) + message.substr(0, 40), 0,
       "grade: the record was cut in the middle of line 8: graded up to the line before it\n"},
      {"cut by the run", "cut",
       lines(1, 8) + "{\"us\":5000000,\"event\":\"cut\",\"meaning\":\"the "
                     "record was cut here: No space left on device\"}\n",
       0, "grade: line 8: the record was cut here: No space left on device\n"},
      {"killed", "cut", lines(1, 10), 0, "grade: the record has no end line"},
      // A message is written when it ends: fed by its bytes' times, its
      // warning comes before the FC that came meanwhile, as it did live.
      {"in the order of the times", "order",
       lines(1, 4) +
           "{\"us\":3300000,\"event\":\"message\",\"dir\":\"program\",\"bytes\":\"FC\",\"byte_us\":"
           "[3300000]}\n" +
           "{\"us\":3000000,\"event\":\"message\",\"dir\":\"device\",\"bytes\":\"84 1E "
           "41\",\"byte_us\":[3000000,3400000,3400000]}\n" +
           end,
       1, "warning incomplete: 84, no second byte after 200 ms\n   3300.0 <- FC"},
      {"no record", "x", "key a\n", 2, "x line 1: not a JSON object at column 1; see --help\n"},
      {"no end of it", "/dev/urandom", "", 2, "/dev/urandom line 1: "},
      {"two joined", "x", clean + clean, 2, "x line 11: a second start: two records joined?"},
      {"backwards", "x", lines(1, 4) + lines(6, 7) + lines(5, 6) + lines(4, 5) + end, 2,
       "x line 6: its times run backwards"},
      {"after the end", "x", clean + message, 2, "x line 11: a line after the record's end"},
      {"a side of no name", "x",
       lines(1, 8) + std::string(message).replace(message.find("device"), 6, "Device"), 2,
       "x line 8: a message needs \"dir\", \"bytes\" and \"byte_us\""},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    std::string path = *row.file == '/'   ? row.file
                       : row.text.empty() ? data + "/" + row.file
                                          : folder / row.file;
    if (!row.text.empty()) std::ofstream(path) << row.text;
    Tool grade(folder, {"grade", path});
    EXPECT_EQ(grade.waitExit(5000), row.code) << grade.errors();
    EXPECT_TRUE(tool::has(row.code == 2 ? grade.errors() : grade.output(), row.says))
        << grade.output() << grade.errors();
  }
}

}  // namespace
