#include "link_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace device {

namespace {
const char PTY_FOLDER[] = "/dev/pts/";

// Where a link points, or "" when the path is no link.
std::string linkTarget(const std::string &link) {
  char target[4096];
  ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n < 0 ? "" : std::string(target, (size_t)n);
}

std::string folderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Why a new link cannot be made at this path.
std::string cannotMake(const std::string &link, int error) {
  if (error == ENOENT || error == ENOTDIR)
    return link + ": the folder " + folderOf(link) + " does not exist";
  return link + ": cannot make a link there: " + std::strerror(error);
}

// The link replaced in one step, so that the program never finds it missing.
bool replaceLink(const std::string &link, const std::string &target, std::string *why) {
  for (int attempt = 0; attempt < 100; attempt++) {
    std::string temporary =
        link + ".new-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
      if (errno == EEXIST) continue;  // someone else's file: never touched
      *why = cannotMake(link, errno);
      return false;
    }
    if (rename(temporary.c_str(), link.c_str()) == 0) return true;
    *why = link + ": cannot replace the link: " + std::strerror(errno);
    unlink(temporary.c_str());
    return false;
  }
  *why = link + ": cannot find a free temporary name beside it";
  return false;
}
}  // namespace

bool pointLinkAt(const std::string &link, const std::string &target, std::string *why) {
  struct stat st;
  if (lstat(link.c_str(), &st) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      *why = link + ": " + std::strerror(errno);
      return false;
    }
    // Nothing there: symlink() itself refuses to replace what may appear meanwhile.
    if (symlink(target.c_str(), link.c_str()) == 0) return true;
    *why = cannotMake(link, errno);
    return false;
  }
  if (!S_ISLNK(st.st_mode)) {
    const char *what = S_ISDIR(st.st_mode)   ? "a folder"
                       : S_ISREG(st.st_mode) ? "a file"
                                             : "not a link";
    *why = link + " is " + what + "; only a link to a pty is replaced";
    return false;
  }
  std::string old = linkTarget(link);
  if (old.compare(0, sizeof PTY_FOLDER - 1, PTY_FOLDER) != 0) {
    *why = link + " is a link to " + old + ", not to a pty; only a link to a pty is replaced";
    return false;
  }
  return replaceLink(link, target, why);
}

void removeLinkTo(const std::string &link, const std::string &target) {
  if (!link.empty() && linkTarget(link) == target) unlink(link.c_str());
}

}  // namespace device
