#include "platform/shell_delete.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) { std::ofstream(path) << "x"; }

TEST(ShellDeleteTest, DeletesFolderTreeButNotWhatLinksLeadTo) {
  testsupport::TempDir dir;
  testsupport::TempDir outside;
  touch(outside.path() / "keep.txt");
  fs::create_directories(dir.path() / "News" / "Daily");
  touch(dir.path() / "News" / "Daily" / "a.url");
  fs::create_directory_symlink(outside.path(), dir.path() / "News" / "out");

  platform::ShellDeleteResult result = platform::shellDeleteObjects(dir.path() / "News");
  EXPECT_EQ(platform::kOk, result.error);
  EXPECT_FALSE(result.aborted);
  EXPECT_FALSE(fs::exists(dir.path() / "News"));
  EXPECT_TRUE(fs::exists(outside.path() / "keep.txt"));
}

TEST(ShellDeleteTest, PatternDeletesMatchesOfLastComponentOnly) {
  testsupport::TempDir dir;
  touch(dir.path() / "a.url");
  touch(dir.path() / "B.URL");
  touch(dir.path() / "c.lnk");
  fs::create_directory(dir.path() / "sub");
  touch(dir.path() / "sub" / "d.url");

  platform::ShellDeleteResult result = platform::shellDeleteObjects(dir.path() / "*.url");
  EXPECT_EQ(platform::kOk, result.error);
  EXPECT_FALSE(fs::exists(dir.path() / "a.url"));
  EXPECT_FALSE(fs::exists(dir.path() / "B.URL"));
  EXPECT_TRUE(fs::exists(dir.path() / "c.lnk"));
  EXPECT_TRUE(fs::exists(dir.path() / "sub" / "d.url"));
}

TEST(ShellDeleteTest, NothingToDeleteIsAnErrorButNoAbort) {
  testsupport::TempDir dir;
  for (const fs::path& path : {dir.path() / "*.ico", dir.path() / "missing"}) {
    SCOPED_TRACE(path.string());
    platform::ShellDeleteResult result = platform::shellDeleteObjects(path);
    EXPECT_NE(platform::kOk, result.error);
    EXPECT_FALSE(result.aborted);
    EXPECT_EQ(result.error, platform::lastError());
  }
}

TEST(ShellDeleteTest, ExactTargetTakesWildcardsLiterally) {
  testsupport::TempDir dir;
  fs::create_directory(dir.path() / "a*");
  touch(dir.path() / "about.lnk");
  platform::ShellDeleteResult result =
      platform::shellDeleteObjects(dir.path() / "a*", platform::ShellDeleteTarget::Exact);
  EXPECT_EQ(platform::kOk, result.error);
  EXPECT_FALSE(fs::exists(dir.path() / "a*"));
  EXPECT_TRUE(fs::exists(dir.path() / "about.lnk"));
}

}  // namespace
