// The reset of the program's state covers every mutable global that the
// program's objects define, as nm lists them, and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "program_state.h"

namespace {

// The names of the writable data the library defines (nm's types b, d, g,
// s and their global forms, u and V), without "(anonymous namespace)::".
// Names the compiler makes for its own use (sanitizer and coverage data)
// begin with a dot or two underscores.
std::set<std::string> mutableGlobals(const std::string &library) {
  std::set<std::string> names;
  std::string command = std::string(TALLIVER_NM) + " -C --defined-only '" + library + "'";
  FILE *listing = popen(command.c_str(), "r");
  if (!listing) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, listing)) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    size_t type = text.find(' ');
    if (type == std::string::npos || type + 3 > text.size()) continue;
    if (std::string("bBdDgGsSuV").find(text[type + 1]) == std::string::npos) continue;
    std::string name = text.substr(type + 3);
    const std::string anonymous = "(anonymous namespace)::";
    if (name.rfind(anonymous, 0) == 0) name = name.substr(anonymous.size());
    if (name.rfind(".", 0) == 0 || name.rfind("__", 0) == 0) continue;
    names.insert(name);
  }
  pclose(listing);
  return names;
}

TEST(ProgramStateTest, TheResetCoversEveryMutableGlobalOfTheProgram) {
  std::set<std::string> defined = mutableGlobals(TALLIVER_PROGRAM_LIBRARY), reset;
  ASSERT_FALSE(defined.empty()) << "nm listed nothing for " << TALLIVER_PROGRAM_LIBRARY;
  for (size_t i = 0; i < PROGRAM_STATE_SIZE; i++) reset.insert(PROGRAM_STATE[i].name);
  for (const std::string &name : defined)
    EXPECT_TRUE(reset.count(name)) << name << " is program state that PROGRAM_STATE leaves out";
  for (const std::string &name : reset)
    EXPECT_TRUE(defined.count(name))
        << name << " is in PROGRAM_STATE, but the program defines no such global";
}

}  // namespace
