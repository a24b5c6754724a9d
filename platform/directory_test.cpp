#include "platform/directory.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) { std::ofstream(path) << "x"; }

const platform::DirectoryEntry* find(const std::vector<platform::DirectoryEntry>& entries,
                                     const std::string& name) {
  auto it = std::find_if(entries.begin(), entries.end(),
                         [&](const platform::DirectoryEntry& e) { return e.name == name; });
  return it == entries.end() ? nullptr : &*it;
}

TEST(DirectoryTest, ListsEntriesWithTheirAttributes) {
  testsupport::TempDir dir;
  fs::create_directory(dir.path() / "News");
  touch(dir.path() / "a.url");
  testsupport::TempDir outside;
  fs::create_directory_symlink(outside.path(), dir.path() / "linked");
  fs::create_symlink(dir.path() / "missing", dir.path() / "dangling.url");
  ASSERT_EQ(0, mkfifo((dir.path() / "pipe.url").c_str(), 0600));

  std::vector<platform::DirectoryEntry> entries;
  ASSERT_TRUE(platform::listDirectory(dir.path(), &entries));
  ASSERT_NE(nullptr, find(entries, "."));
  ASSERT_NE(nullptr, find(entries, ".."));
  const auto* news = find(entries, "News");
  ASSERT_NE(nullptr, news);
  EXPECT_TRUE(news->directory);
  EXPECT_FALSE(news->symbolicLink);
  const auto* file = find(entries, "a.url");
  ASSERT_NE(nullptr, file);
  EXPECT_FALSE(file->directory);
  EXPECT_FALSE(file->special);
  const auto* link = find(entries, "linked");
  ASSERT_NE(nullptr, link);
  EXPECT_TRUE(link->directory);
  EXPECT_TRUE(link->symbolicLink);
  EXPECT_TRUE(find(entries, "dangling.url")->special);
  EXPECT_TRUE(find(entries, "pipe.url")->special);
  EXPECT_EQ(7u, entries.size());
}

TEST(DirectoryTest, ListingMissingFolderFailsWithPathNotFound) {
  testsupport::TempDir dir;
  std::vector<platform::DirectoryEntry> entries(1);
  EXPECT_FALSE(platform::listDirectory(dir.path() / "missing", &entries));
  EXPECT_EQ(platform::kPathNotFound, platform::lastError());
  EXPECT_EQ(1u, entries.size());
}

TEST(DirectoryTest, WildcardsMatchAsTheFileSearchDoes) {
  struct Row {
    const char* pattern;
    const char* name;
    bool match;
  } rows[] = {
      {"*.url", "News.url", true},
      {"*.url", "News.URL", true},
      {"*.url", "a.url.txt", false},
      {"*.url", "url", false},
      {"*.*", "README", true},
      {"icon?.ico", "icon1.ico", true},
      {"icon?.ico", "icon.ico", false},
      {"Favorites*", "FavoritesIcons1a", true},
      {"*", "", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.pattern) + " ~ " + row.name);
    EXPECT_EQ(row.match, platform::wildcardMatch(row.pattern, row.name));
  }
}

TEST(DirectoryTest, FindMatchesReportsNothingFound) {
  testsupport::TempDir dir;
  touch(dir.path() / "icon1a.ico");
  touch(dir.path() / "other.txt");
  std::vector<platform::DirectoryEntry> matches;
  ASSERT_TRUE(platform::findMatches(dir.path() / "*.ico", &matches));
  ASSERT_EQ(1u, matches.size());
  EXPECT_EQ("icon1a.ico", matches[0].name);
  EXPECT_FALSE(platform::findMatches(dir.path() / "icon2*"));
  EXPECT_EQ(platform::kFileNotFound, platform::lastError());
  EXPECT_TRUE(platform::shortName(dir.path() / "icon1a.ico").empty());
}

}  // namespace
