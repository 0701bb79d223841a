#include "svg.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace device {

namespace {
// Every picture says on its second line that this tool drew it, and so may
// replace it; any other file at the target is left alone.
const char SIGNATURE[] = "<!-- drawn by talliver-device plot -->";
// Room for the root's size, written last: blanks between attributes are XML's own.
const int SIZE_ROOM = 64;

bool drawnHere(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  char head[512] = {};
  ssize_t n = fd >= 0 ? read(fd, head, sizeof head - 1) : -1;
  if (fd >= 0) close(fd);
  return n > 0 && std::strstr(head, SIGNATURE) != nullptr;
}
}  // namespace

std::string xmlEscaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += (unsigned char)c < 0x20 ? ' ' : c;
    }
  }
  return out;
}

Svg::~Svg() {
  if (file_) fclose(file_), unlink(temp_.c_str());
}

bool Svg::create(const std::string &target, const std::string &record, std::string *why) {
  struct stat st, recordSt;
  const std::string name = "--out " + target;
  if (lstat(target.c_str(), &st) == 0) {
    bool same = stat(record.c_str(), &recordSt) == 0 && st.st_dev == recordSt.st_dev &&
                st.st_ino == recordSt.st_ino;
    if (S_ISDIR(st.st_mode)) return *why = name + ": a folder", false;
    if (same) return *why = name + ": the record itself", false;
    if (!S_ISREG(st.st_mode))
      return *why = name + (S_ISLNK(st.st_mode) ? ": a symbolic link" : ": not a regular file") +
                    "; it is left as it is",
             false;
    if (!drawnHere(target))
      return *why = name + ": a file this tool did not draw; it is left as it is", false;
    replaces_ = true;
  } else if (errno != ENOENT) {
    return *why = name + ": " + std::strerror(errno), false;
  }
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string temp = folder + "." + target.substr(folder.size()) + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) return *why = name + ": cannot write beside it: " + std::strerror(errno), false;
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  target_ = target, temp_ = temp;
  file_ = fdopen(fd, "w");
  return file_ != nullptr ||
         (close(fd), unlink(temp.c_str()), *why = name + ": out of memory", false);
}

void Svg::begin(int width) {
  width_ = width;
  std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", file_);
  std::fprintf(file_, "%s\n<svg xmlns=\"http://www.w3.org/2000/svg\"", SIGNATURE);
  sizeAt_ = std::ftell(file_);
  std::fprintf(file_, "%*s font-family=\"sans-serif\" font-size=\"11\">\n", SIZE_ROOM, "");
}

void Svg::put(const char *pattern, ...) {
  va_list args;
  va_start(args, pattern);
  std::vfprintf(file_, pattern, args);
  va_end(args);
}

void Svg::text(double x, double y, const std::string &text, const char *attributes,
               const std::string &title) {
  put("<text x=\"%.1f\" y=\"%.1f\" %s>", x, y, attributes);
  if (!title.empty()) put("<title>%s</title>", xmlEscaped(title).c_str());
  put("%s</text>\n", xmlEscaped(text).c_str());
}

bool Svg::finish(int height, std::string *why) {
  put("</svg>\n");
  char size[SIZE_ROOM + 1];
  std::snprintf(size, sizeof size, " width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\"", width_,
                height, width_, height);
  bool written = !std::ferror(file_) && std::fflush(file_) == 0 &&
                 std::fseek(file_, sizeAt_, SEEK_SET) == 0 &&
                 std::fprintf(file_, "%-*s", SIZE_ROOM, size) == SIZE_ROOM &&
                 std::fflush(file_) == 0 && fsync(fileno(file_)) == 0;
  int error = errno;
  written = std::fclose(file_) == 0 && written;
  file_ = nullptr;
  // Only a picture this tool drew is replaced: a file that came meanwhile stays.
  if (written && (replaces_ ? rename(temp_.c_str(), target_.c_str())
                            : renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(),
                                        RENAME_NOREPLACE)) == 0)
    return true;
  *why = "--out " + target_ + ": " +
         (written ? errno == EEXIST ? "a file came there meanwhile; it is left as it is"
                                    : std::strerror(errno)
                  : std::string("cannot write it: ") + std::strerror(error));
  unlink(temp_.c_str());
  return false;
}

}  // namespace device
