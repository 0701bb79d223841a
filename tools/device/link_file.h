// The program's COM port as a symbolic link to this tool's pty. The tool
// often runs as root (serial ports need it), so it is careful with the path:
// it creates the link where nothing is, replaces only a link that points at
// a pty (its own, from an earlier run), and refuses anything else. It
// removes the link when it ends, unless the link has been pointed elsewhere.
#pragma once

#include <string>

namespace device {

// False with one line naming the path when the link cannot or may not be made.
bool pointLinkAt(const std::string &link, const std::string &target, std::string *why);

// Removes the link if it still points at target.
void removeLinkTo(const std::string &link, const std::string &target);

}  // namespace device
