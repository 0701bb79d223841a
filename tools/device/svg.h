// An SVG picture written a piece at a time, to a file made beside its target
// that takes the target's place only once the picture is whole. So a picture
// is complete or not there, and the only file it ever replaces is one that
// this tool drew: never the record, a folder, or anything else.
#pragma once

#include <cstdio>
#include <string>

namespace device {

std::string xmlEscaped(const std::string &text);

class Svg {
 public:
  ~Svg();  // a picture never finished is removed
  // Checks that `target` may be written (not `record`, not a file this tool
  // did not draw) and makes the file beside it; false with why.
  bool create(const std::string &target, const std::string &record, std::string *why);
  // The root element; the height is written when the picture is finished.
  void begin(int width);
  void put(const char *pattern, ...) __attribute__((format(printf, 2, 3)));
  // Text at (x, y) with these attributes, and a tooltip when `title` is given.
  void text(double x, double y, const std::string &text, const char *attributes,
            const std::string &title = "");
  // Sized, written out and put in the target's place; false with why.
  bool finish(int height, std::string *why);

 private:
  std::string target_, temp_;
  bool replaces_ = false;  // the target is a picture this tool drew
  FILE *file_ = nullptr;
  long sizeAt_ = 0;
  int width_ = 0;
};

}  // namespace device
