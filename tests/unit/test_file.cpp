// file!'s path in the operating system's form: with full, a relative path gets the current
// directory in front, joined by exactly one "/" whatever the directory. The language has no way
// yet to change the current directory, so these cases live here.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "datatypes/file.h"
#include "platform/os/platform.h"
#include "string_test_support.h"

namespace {

class FilePath : public TextTest {
 protected:
  void SetUp() override {
    TextTest::SetUp();
    saved_dir_ = platform::get_current_dir();
    char pattern[] = "/tmp/zel-file-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    temp_dir_ = pattern;
  }
  void TearDown() override {
    EXPECT_TRUE(platform::set_current_dir(saved_dir_.c_str()));
    rmdir(temp_dir_.c_str());
    TextTest::TearDown();
  }

  static std::u32string os_path(std::u32string_view path, bool full) {
    Cell* source = text(path);
    source->header = TYPE_FILE;
    Cell* out = text(U"");
    file::to_os_path(*source, *out, full);
    return read(*out);
  }

  static std::u32string wide(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

  std::string saved_dir_;
  std::string temp_dir_;
};

TEST_F(FilePath, FullPutsTheCurrentDirectoryBeforeRelativePathsOnly) {
  ASSERT_TRUE(platform::set_current_dir(temp_dir_.c_str()));
  const std::u32string dir = wide(platform::get_current_dir());
  struct Case {
    std::u32string path;
    bool full;
    std::u32string expected;
  };
  const Case cases[] = {
      {U"a/b", true, dir + U"/a/b"},
      {U"", true, dir + U"/"},
      {U"/c/x", true, U"/c/x"},
      {U"a/b", false, U"a/b"},
      {U"caf\u00E9/\U0001F600", true, dir + U"/caf\u00E9/\U0001F600"},
  };
  for (const Case& c : cases) EXPECT_EQ(os_path(c.path, c.full), c.expected);
}

TEST_F(FilePath, TheRootDirectoryGivesNoDoubleSlash) {
  ASSERT_TRUE(platform::set_current_dir("/"));
  EXPECT_EQ(os_path(U"a", true), U"/a");
  EXPECT_EQ(file::os_current_dir(), U"/");
}

}  // namespace
