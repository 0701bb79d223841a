// The simulator's script: one command a line ("key a", "mods 40"), run in
// order against the program.
#pragma once

#include <cstdio>
#include <string>

#include "session.h"

namespace device {

// Runs one line; false when the command fails (the reason is printed).
bool runCommand(Session &s, const std::string &line);

// One line per command, as --help shows them.
void printCommandHelp(std::FILE *out);

}  // namespace device
