// The program's COM port link: made where nothing is, a link to a pty
// replaced, anything else refused with one line naming the path and left
// exactly as it was.
#include "link_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

class LinkFileTest : public testing::Test {
 protected:
  LinkFileTest()
      : dir_(fs::temp_directory_path() / ("link-file-test-" + std::to_string(getpid()))) {
    fs::create_directory(dir_);
  }
  ~LinkFileTest() override { fs::remove_all(dir_); }

  std::string path(const std::string &name) const { return dir_ / name; }
  std::string target(const std::string &name) const {
    std::error_code error;
    return fs::read_symlink(path(name), error);
  }
  std::set<std::string> names() const {
    std::set<std::string> all;
    for (const auto &entry : fs::directory_iterator(dir_)) all.insert(entry.path().filename());
    return all;
  }
  std::string text(const std::string &name) const {
    std::string line;
    std::getline(std::ifstream(path(name)), line);
    return line;
  }

  fs::path dir_;
};

TEST_F(LinkFileTest, MakesAndReplacesOnlyLinksToAPty) {
  std::string why;
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/7", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/7");
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/9", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/9") << "an earlier run's link, even to a pty gone";
  EXPECT_EQ(names(), std::set<std::string>{"com1"}) << "no temporary left behind";
  device::removeLinkTo(path("com1"), "/dev/pts/7");
  EXPECT_EQ(target("com1"), "/dev/pts/9") << "only a link to our own pty is removed";
  device::removeLinkTo(path("com1"), "/dev/pts/9");
  EXPECT_TRUE(names().empty());
}

TEST_F(LinkFileTest, RefusesAnythingElse) {
  std::ofstream(path("notes.txt")) << "keep me\n";
  mkdir(path("folder").c_str(), 0755);
  symlink("/etc/hostname", path("elsewhere").c_str());
  const std::string only = "; only a link to a pty is replaced";
  const std::pair<std::string, std::string> rows[] = {
      {path("notes.txt"), path("notes.txt") + " is a file" + only},
      {path("folder"), path("folder") + " is a folder" + only},
      {path("elsewhere"), path("elsewhere") + " is a link to /etc/hostname, not to a pty" + only},
      {path("missing/com1"),
       path("missing/com1") + ": the folder " + path("missing") + " does not exist"},
  };
  for (const auto &row : rows) {
    std::string why;
    EXPECT_FALSE(device::pointLinkAt(row.first, "/dev/pts/7", &why)) << row.first;
    EXPECT_EQ(why, row.second);
  }
  EXPECT_EQ(text("notes.txt"), "keep me");
  EXPECT_EQ(target("elsewhere"), "/etc/hostname");
  EXPECT_EQ(names(), (std::set<std::string>{"elsewhere", "folder", "notes.txt"}))
      << "nothing made, nothing left behind";
}

TEST_F(LinkFileTest, NeverTouchesAFileNamedLikeItsTemporary) {
  symlink("/dev/pts/3", path("com1").c_str());
  std::string temporary = "com1.new-" + std::to_string(getpid()) + "-0", why;
  std::ofstream(path(temporary)) << "someone's\n";
  ASSERT_TRUE(device::pointLinkAt(path("com1"), "/dev/pts/4", &why)) << why;
  EXPECT_EQ(target("com1"), "/dev/pts/4");
  EXPECT_EQ(text(temporary), "someone's");
}

}  // namespace
