// The conformance run against the device script mode plays, each on its
// side of a pseudo-terminal. No program and no Wine are needed.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool_checks.h"

namespace {

using tool::Folder;
using tool::Tool;

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

// While an FC is withheld nothing asked after its keystroke is answered;
// once the FC has gone, the answers follow in the order asked, as the
// program gives them, and the device sees them so.
TEST(ConformRunTest, AnswersWaitBehindAWithheldFc) {
  Folder deviceFolder, conformFolder;
  const std::string port = deviceFolder / "port";
  Tool device(deviceFolder, {"--link", port, "sleep 2300", "raw 84 1E 41", "sleep 300", "raw D4 CC",
                             "listen 5000"});
  ASSERT_TRUE(tool::within(5000, [&] { return tool::exists(port); })) << device.errors();
  Tool conform(conformFolder, {"conform", "--port", port, "--seconds", "6"});
  // A sanitizer build is slower: the bound only catches a run that does not end.
  ASSERT_NE(conform.waitExit(26000), Tool::RUNNING) << conform.errors();
  const std::vector<std::string> inOrder = {"FC", "98 02 22", "88 00 00"};
  EXPECT_EQ(programSide(conform.output()), inOrder) << conform.output();
  EXPECT_LT(conform.output().find("FC sent after being withheld"), conform.output().find("<- FC"));
  EXPECT_TRUE(tool::within(3000, [&] { return programSide(device.output()) == inOrder; }))
      << device.output();
}

}  // namespace
