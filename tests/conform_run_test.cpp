// The conformance run against the device script mode plays, each on its
// side of a pseudo-terminal: a device that breaks rules fails exactly those.
// No program and no Wine are needed. (The played device passing every rule
// is tool_test's.)
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool_process.h"

namespace {

using tool::Folder;
using tool::Tool;

// How much longer than planned a run may take to end: a sanitizer build is slower.
const int END_SLACK_MS = 20000;

// The grade lines of a conformance run's output, in order.
std::vector<std::string> grades(const std::string &output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("PASS ", 0) == 0 || line.rfind("FAIL ", 0) == 0 ||
        line.rfind("NOT GRADED ", 0) == 0)
      lines.push_back(line);
  return lines;
}

std::string lastLine(const std::string &output) {
  std::string text = output.substr(0, output.find_last_not_of('\n') + 1);
  return text.substr(text.find_last_of('\n') + 1);
}

// The bytes of each message from the program in a transcript, in order.
std::vector<std::string> programSide(const std::string &output) {
  std::vector<std::string> sent;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);)
    if (line.compare(10, 2, "<-") == 0) {
      std::string bytes = line.substr(13, 9);  // "%9.1f <- %-9s ..."
      sent.push_back(bytes.substr(0, bytes.find_last_not_of(' ') + 1));
    }
  return sent;
}

// The rule a grade line names: "FAIL  gaps: ..." gives "FAIL gaps".
std::string verdict(const std::string &line) {
  std::istringstream in(line);
  std::string word, rule;
  in >> word;
  if (word == "NOT") in >> word, word = "NOT GRADED";
  in >> rule;
  return word + " " + rule.substr(0, rule.find(':'));
}

// The played device with its script, on a pty behind a link, and the
// arguments of a conformance run of `seconds` on that port.
struct ConformRun {
  Folder deviceFolder, conformFolder;
  std::string port = deviceFolder / "port";
  Tool device;
  std::vector<std::string> conformArgs;
  int endBoundMs;
  ConformRun(int seconds, std::vector<std::string> script)
      : device(deviceFolder, withLink(script, deviceFolder / "port")),
        endBoundMs(seconds * 1000 + END_SLACK_MS) {
    EXPECT_TRUE(tool::within(5000, [&] { return tool::exists(port); })) << device.errors();
    conformArgs = {"conform", "--port", port, "--seconds", std::to_string(seconds)};
  }
  static std::vector<std::string> withLink(std::vector<std::string> script,
                                           const std::string &link) {
    script.insert(script.begin(), {"--link", link});
    return script;
  }
};

TEST(ConformRunTest, ARuleBreakerFailsExactlyItsRules) {
  // A bad header, a data byte with bit 7, a slow message, two keystrokes at
  // once, an ignored command, and keystrokes while an FC is withheld; with
  // nothing sent after the reopen and no query, those two are not graded.
  ConformRun run(
      8, {"sleep 500", "raw 04 1E 41", "sleep 500", "raw 84 9E 41", "sleep 500", "raw 84 1E",
          "sleep 300", "raw 41", "sleep 500", "raw 84 1E 41 84 30 42", "sleep 500", "raw 80 00 00",
          "sleep 300", "raw 84 1E 41", "sleep 300", "raw 84 1E 41", "listen 6000"});
  Tool conform(run.conformFolder, run.conformArgs);
  ASSERT_EQ(conform.waitExit(run.endBoundMs), 1) << conform.output() << conform.errors();
  std::vector<std::string> got;
  for (const std::string &line : grades(conform.output())) got.push_back(verdict(line));
  EXPECT_EQ(got, std::vector<std::string>({"FAIL forms", "FAIL header-bit7", "FAIL data-bit7",
                                           "FAIL gaps", "FAIL waits-for-fc", "FAIL withheld-fc",
                                           "NOT GRADED reopen", "NOT GRADED query-flood"}))
      << conform.output();
  EXPECT_EQ(lastLine(conform.output()), "0 passed, 6 failed, 2 not graded");
}

// While an FC is withheld nothing asked after its keystroke is answered;
// once the FC has gone, the answers follow in the order asked, as the
// program gives them, and the device sees them so.
TEST(ConformRunTest, AnswersWaitBehindAWithheldFc) {
  ConformRun run(6, {"sleep 2300", "raw 84 1E 41", "sleep 300", "raw D4 CC", "listen 5000"});
  Tool conform(run.conformFolder, run.conformArgs);
  ASSERT_NE(conform.waitExit(run.endBoundMs), Tool::RUNNING) << conform.errors();
  const std::vector<std::string> inOrder = {"FC", "98 02 22", "88 00 00"};
  EXPECT_EQ(programSide(conform.output()), inOrder) << conform.output();
  EXPECT_LT(conform.output().find("FC sent after being withheld"), conform.output().find("<- FC"));
  EXPECT_TRUE(tool::within(3000, [&] { return programSide(run.device.output()) == inOrder; }))
      << run.device.output();
}

}  // namespace
