#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/folders.h"
#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

TEST(Files, WriteReadAppendAndSize) {
  testsupport::TempDir dir;
  auto path = dir.path() / "a.txt";
  std::string data = std::string("line\r\n") + '\0' + "\xFF";
  ASSERT_TRUE(writeWholeFile(path, data));
  ASSERT_TRUE(appendToFile(path, "more"));
  std::string read;
  ASSERT_TRUE(readWholeFile(path, &read));
  EXPECT_EQ(read, data + "more");
  uint64_t size = 0;
  ASSERT_TRUE(fileSize(path, &size));
  EXPECT_EQ(size, data.size() + 4);
  ASSERT_TRUE(writeWholeFile(path, "x"));  // truncates
  ASSERT_TRUE(readWholeFile(path, &read));
  EXPECT_EQ(read, "x");
  EXPECT_TRUE(fileExists(path));
  EXPECT_FALSE(directoryExists(path));
  ASSERT_TRUE(appendToFile(dir.path() / "new.log", "first"));
  EXPECT_TRUE(fileExists(dir.path() / "new.log"));
}

TEST(Files, ModeAppliesWhenCreated) {
  testsupport::TempDir dir;
  auto path = dir.path() / "secret";
  ASSERT_TRUE(writeWholeFile(path, "s", 0600));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(Files, FailuresSetTheLastErrorAndLeaveOutputsAlone) {
  testsupport::TempDir dir;
  std::string data = "unchanged";
  setLastError(kOk);
  EXPECT_FALSE(readWholeFile(dir.path() / "missing", &data));
  EXPECT_EQ(lastError(), kFileNotFound);
  EXPECT_EQ(data, "unchanged");
  EXPECT_FALSE(readWholeFile(dir.path(), &data));
  EXPECT_EQ(lastError(), kAccessDenied);
  EXPECT_FALSE(writeWholeFile(dir.path() / "no" / "such" / "f", "x"));
  EXPECT_EQ(lastError(), kPathNotFound);
  EXPECT_FALSE(readWholeFile(dir.path() / "no" / "f", &data));
  EXPECT_EQ(lastError(), kPathNotFound);
  uint64_t size = 7;
  EXPECT_FALSE(fileSize(dir.path() / "missing", &size));
  EXPECT_EQ(size, 7u);
  EXPECT_FALSE(removeFile(dir.path() / "missing"));
  EXPECT_EQ(lastError(), kFileNotFound);
  EXPECT_FALSE(removeFile(dir.path()));
  EXPECT_EQ(lastError(), kAccessDenied);
}

// The names in a folder, sorted: what a replacement may leave behind.
std::vector<std::string> entries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Files, ReplaceFileContentsWritesANewWholeFile) {
  testsupport::TempDir dir;
  auto path = dir.path() / "cache.xml";
  ASSERT_TRUE(replaceFileContents(path, "a long first version", 0600));
  ASSERT_TRUE(replaceFileContents(path, std::string("short\0\xFF", 7), 0600));
  std::string read;
  ASSERT_TRUE(readWholeFile(path, &read));
  EXPECT_EQ(read, std::string("short\0\xFF", 7));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_TRUE(replaceFileContents(path, ""));
  ASSERT_TRUE(readWholeFile(path, &read));
  EXPECT_EQ(read, "");
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"cache.xml"});
}

// Whatever fails, the old file stays whole and no temporary file is left.
TEST(Files, FailedReplacementKeepsTheOldFile) {
  testsupport::TempDir dir;
  auto path = dir.path() / "settings.cfg";
  ASSERT_TRUE(writeWholeFile(path, "old contents"));
  std::filesystem::create_directories(dir.path() / "folder in the way" / "inside");

  setLastError(kOk);
  EXPECT_FALSE(replaceFileContents(dir.path() / "folder in the way", "new"));
  EXPECT_EQ(lastError(), kAccessDenied);
  EXPECT_TRUE(directoryExists(dir.path() / "folder in the way" / "inside"));
  EXPECT_FALSE(replaceFileContents(dir.path() / "missing" / "settings.cfg", "new"));
  EXPECT_EQ(lastError(), kPathNotFound);

  std::string read;
  ASSERT_TRUE(readWholeFile(path, &read));
  EXPECT_EQ(read, "old contents");
  EXPECT_EQ(entries(dir.path()), (std::vector<std::string>{"folder in the way", "settings.cfg"}));
}

TEST(Files, DirectoriesAsCreateDirectoryMakesThem) {
  testsupport::TempDir dir;
  auto sub = dir.path() / "sub";
  ASSERT_TRUE(makeDirectory(sub));
  EXPECT_TRUE(directoryExists(sub));
  EXPECT_FALSE(fileExists(sub));
  EXPECT_FALSE(makeDirectory(sub));
  EXPECT_EQ(lastError(), kAlreadyExists);
  EXPECT_FALSE(makeDirectory(dir.path() / "a" / "b"));
  EXPECT_EQ(lastError(), kPathNotFound);
  ASSERT_TRUE(ensureDirectory(dir.path() / "a" / "b" / "c"));
  EXPECT_TRUE(directoryExists(dir.path() / "a" / "b" / "c"));
  EXPECT_TRUE(ensureDirectory(dir.path() / "a" / "b" / "c"));
  ASSERT_TRUE(writeWholeFile(dir.path() / "file", ""));
  EXPECT_FALSE(ensureDirectory(dir.path() / "file"));
  EXPECT_FALSE(ensureDirectory(dir.path() / "file" / "below"));
}

TEST(Files, TempFilesLiveInThePrefix) {
  testsupport::TempPrefix prefix;
  std::filesystem::path a, b;
  ASSERT_TRUE(createTempFile("bkm", &a));
  ASSERT_TRUE(createTempFile("bkm", &b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), prefix.path() / "tmp");
  EXPECT_EQ(a.filename().string().rfind("bkm", 0), 0u);
  EXPECT_EQ(a.extension(), ".tmp");
  uint64_t size = 1;
  ASSERT_TRUE(fileSize(a, &size));
  EXPECT_EQ(size, 0u);
}

TEST(Files, ModulePathNamesTheLibraryOrProgram) {
  std::filesystem::path library = modulePath(reinterpret_cast<const void*>(&readWholeFile));
  EXPECT_TRUE(library.is_absolute());
  EXPECT_NE(library.filename().string().find("platform"), std::string::npos) << library;
  static int inThisProgram;
  std::filesystem::path program = modulePath(&inThisProgram);
  EXPECT_TRUE(program.is_absolute());
  EXPECT_EQ(program.filename(), "platform_tests");
}

TEST(Folders, SpecialFoldersAreCreatedBelowThePrefix) {
  testsupport::TempPrefix prefix;
  struct Row {
    SpecialFolder folder;
    const char* relative;
  } rows[] = {
      {SpecialFolder::Favorites, "profile/Favorites"},
      {SpecialFolder::AppData, "profile/AppData/Roaming"},
      {SpecialFolder::Temp, "tmp"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.relative);
    std::filesystem::path path = specialFolder(row.folder);
    EXPECT_EQ(path, prefix.path() / row.relative);
    EXPECT_TRUE(directoryExists(path));
  }
}

TEST(Folders, FindingASpecialFolderNeverCreatesIt) {
  testsupport::TempPrefix prefix;
  setLastError(kOk);
  EXPECT_TRUE(findSpecialFolder(SpecialFolder::Favorites).empty());
  EXPECT_EQ(lastError(), kPathNotFound);
  EXPECT_FALSE(std::filesystem::exists(prefix.path() / "profile" / "Favorites"));
  ASSERT_FALSE(specialFolder(SpecialFolder::Favorites).empty());
  EXPECT_EQ(findSpecialFolder(SpecialFolder::Favorites), prefix.path() / "profile" / "Favorites");
}

TEST(Folders, UnusablePrefixGivesAnEmptyPath) {
  testsupport::TempPrefix prefix;
  ASSERT_TRUE(writeWholeFile(prefix.path() / "profile", "not a folder"));
  setLastError(kOk);
  EXPECT_TRUE(specialFolder(SpecialFolder::AppData).empty());
  EXPECT_NE(lastError(), kOk);
  EXPECT_FALSE(specialFolder(SpecialFolder::Temp).empty());
}

}  // namespace
}  // namespace platform
