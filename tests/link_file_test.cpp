// The program's COM port link: made where nothing is, a link to a pty
// replaced, anything else refused with one line naming the path and left
// exactly as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "link_file.h"

namespace {

class LinkFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/link-file-test-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  std::string path(const std::string &name) const { return dir_ + "/" + name; }
  std::string target(const std::string &name) const {
    char buffer[4096];
    ssize_t n = readlink(path(name).c_str(), buffer, sizeof buffer);
    return n < 0 ? "" : std::string(buffer, (size_t)n);
  }
  // Every name in the folder, sorted, one string.
  std::string names() const {
    std::string out;
    FILE *ls = popen(("ls -A '" + dir_ + "'").c_str(), "r");
    for (int c; (c = fgetc(ls)) != EOF;) out += c == '\n' ? ' ' : (char)c;
    pclose(ls);
    return out;
  }

  std::string dir_;
};

TEST_F(LinkFileTest, MakesAndReplacesOnlyLinksToAPty) {
  std::string why;
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/7", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/7");
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/9", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/9") << "an earlier run's link, even to a pty gone";
  EXPECT_EQ(names(), "com1 ") << "no temporary left behind";
  device::removeLinkTo(path("com1"), "/dev/pts/7");
  EXPECT_EQ(target("com1"), "/dev/pts/9") << "only a link to our own pty is removed";
  device::removeLinkTo(path("com1"), "/dev/pts/9");
  EXPECT_EQ(names(), "");
}

TEST_F(LinkFileTest, RefusesAnythingElse) {
  std::ofstream(path("notes.txt")) << "keep me\n";
  mkdir(path("folder").c_str(), 0755);
  symlink("/etc/hostname", path("elsewhere").c_str());
  struct Row {
    std::string link, why;
  };
  const Row rows[] = {
      {path("notes.txt"), path("notes.txt") + " is a file; only a link to a pty is replaced"},
      {path("folder"), path("folder") + " is a folder; only a link to a pty is replaced"},
      {path("elsewhere"), path("elsewhere") +
                              " is a link to /etc/hostname, not to a pty; only a link to a pty is "
                              "replaced"},
      {path("missing/com1"),
       path("missing/com1") + ": the folder " + path("missing") + " does not exist"},
  };
  for (const Row &row : rows) {
    std::string why;
    EXPECT_FALSE(device::pointLinkAt(row.link, "/dev/pts/7", &why)) << row.link;
    EXPECT_EQ(why, row.why);
  }
  std::ifstream kept(path("notes.txt"));
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "keep me");
  EXPECT_EQ(target("elsewhere"), "/etc/hostname");
  EXPECT_EQ(names(), "elsewhere folder notes.txt ") << "nothing made, nothing left behind";
}

TEST_F(LinkFileTest, NeverTouchesAFileNamedLikeItsTemporary) {
  symlink("/dev/pts/3", path("com1").c_str());
  std::ofstream(path("com1.new-" + std::to_string(getpid()) + "-0")) << "someone's\n";
  std::string why;
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/4", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/4");
  std::ifstream kept(path("com1.new-" + std::to_string(getpid()) + "-0"));
  std::string text;
  std::getline(kept, text);
  EXPECT_EQ(text, "someone's");
}

}  // namespace
