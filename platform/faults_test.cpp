#include "platform/faults.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

TEST(Faults, InjectedFaultsFailMatchingCallsUntilCleared) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\F", &key), kOk);
  injectFault(FaultSite::RegistryWrite, kAccessDenied, "HKCU");
  injectFault(FaultSite::FileWrite, kDiskFull, "bookmarks_Explorer.cfg");
  EXPECT_EQ(key.setDword("a", 1), kAccessDenied);
  RegKey machine;
  EXPECT_EQ(RegKey::create(RegRoot::LocalMachine, "Software\\F", &machine), kOk);
  RegValue value;
  EXPECT_EQ(key.readValue("a", &value), kFileNotFound);  // reads still work

  EXPECT_FALSE(writeWholeFile(prefix.path() / "bookmarks_Explorer.cfg", "x"));
  EXPECT_EQ(lastError(), kDiskFull);
  EXPECT_FALSE(std::filesystem::exists(prefix.path() / "bookmarks_Explorer.cfg"));
  EXPECT_TRUE(appendToFile(prefix.path() / "bookmarks.log", "x"));

  clearFaults();
  EXPECT_EQ(key.setDword("a", 1), kOk);
  EXPECT_TRUE(writeWholeFile(prefix.path() / "bookmarks_Explorer.cfg", "x"));
}

TEST(Faults, ACountedFaultLetsTheFirstCallsThrough) {
  testsupport::TempPrefix prefix;
  injectFault(FaultSite::FileWrite, kDiskFull, "counted", 2);
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted1", "x"));
  EXPECT_TRUE(writeWholeFile(prefix.path() / "other", "x"));  // does not match: not counted
  EXPECT_TRUE(appendToFile(prefix.path() / "counted2", "x"));
  EXPECT_FALSE(writeWholeFile(prefix.path() / "counted3", "x"));
  EXPECT_EQ(lastError(), kDiskFull);
  EXPECT_FALSE(writeWholeFile(prefix.path() / "counted4", "x"));
  clearFaults();
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted4", "x"));
}

TEST(Faults, EnvironmentFaultsReachEveryProcess) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, "Software\\F", &key), kOk);
  setenv("QUORVANE_FAULTS", "registry-read=1016;bogus=5;file-read=30@secret;file-write=x", 1);
  RegValue value;
  EXPECT_EQ(key.readValue("a", &value), kRegistryIo);
  EXPECT_EQ(key.setDword("a", 1), kOk);
  std::string data;
  EXPECT_FALSE(readWholeFile(prefix.path() / "secret.txt", &data));
  EXPECT_EQ(lastError(), kReadFault);
  EXPECT_TRUE(writeWholeFile(prefix.path() / "plain.txt", "x"));
  EXPECT_TRUE(readWholeFile(prefix.path() / "plain.txt", &data));
  unsetenv("QUORVANE_FAULTS");
  EXPECT_EQ(key.readValue("a", &value), kOk);
}

TEST(Faults, EnvironmentFaultsCountPassesPerProcess) {
  testsupport::TempPrefix prefix;
  setenv("QUORVANE_FAULTS", "file-write=112@counted#2;file-write=5@hash#x", 1);
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted1", "x"));
  EXPECT_TRUE(writeWholeFile(prefix.path() / "other", "x"));  // not matching: not counted
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted2", "x"));
  EXPECT_FALSE(writeWholeFile(prefix.path() / "counted3", "x"));
  EXPECT_EQ(lastError(), kDiskFull);
  EXPECT_FALSE(writeWholeFile(prefix.path() / "counted4", "x"));
  // "#x" is no count: the text is "hash#x".
  EXPECT_TRUE(writeWholeFile(prefix.path() / "hash", "x"));
  EXPECT_FALSE(writeWholeFile(prefix.path() / "hash#x", "x"));
  // A changed variable counts afresh.
  setenv("QUORVANE_FAULTS", "file-write=112@counted#1", 1);
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted5", "x"));
  EXPECT_FALSE(writeWholeFile(prefix.path() / "counted6", "x"));
  // "#1:2": one call passes, the next two fail, the later ones pass again.
  setenv("QUORVANE_FAULTS", "file-write=112@counted#1:2", 1);
  const bool expected[] = {true, false, false, true, true};
  for (bool ok : expected) EXPECT_EQ(ok, writeWholeFile(prefix.path() / "counted8", "x"));
  unsetenv("QUORVANE_FAULTS");
  EXPECT_TRUE(writeWholeFile(prefix.path() / "counted7", "x"));
}

// The two steps of a write fail apart: a full disk after the file is made,
// any other fault before.
TEST(Faults, CreateAndWriteTellsTheFailingStep) {
  testsupport::TempPrefix prefix;
  const std::filesystem::path full = prefix.path() / "full.url", denied = prefix.path() / "denied.url";
  injectFault(FaultSite::FileWrite, kDiskFull, "full");
  injectFault(FaultSite::FileWrite, kAccessDenied, "denied");
  EXPECT_EQ(createAndWriteFile(full, "x"), FileWriteResult::NotWritten);
  EXPECT_EQ(lastError(), kDiskFull);
  EXPECT_TRUE(std::filesystem::exists(full));
  EXPECT_EQ(createAndWriteFile(denied, "x"), FileWriteResult::NotCreated);
  EXPECT_EQ(lastError(), kAccessDenied);
  EXPECT_FALSE(std::filesystem::exists(denied));
  clearFaults();
  EXPECT_EQ(createAndWriteFile(full, "bytes"), FileWriteResult::Written);
  std::string data;
  ASSERT_TRUE(readWholeFile(full, &data));
  EXPECT_EQ(data, "bytes");
  EXPECT_EQ(createAndWriteFile(prefix.path() / "no" / "folder.url", "x"), FileWriteResult::NotCreated);
}

// A replacement meets an injected fault as it meets the real one: the old
// file stays whole and the temporary file goes. The fault matches the final
// path, once per replacement, so counted faults count replacements.
TEST(Faults, FailedReplacementLeavesTheOldFileWhole) {
  testsupport::TempPrefix prefix;
  const std::filesystem::path path = prefix.path() / "bookmarkscache_Explorer.xml";
  ASSERT_TRUE(writeWholeFile(path, "<bookmarks>old</bookmarks>"));
  for (Status status : {kDiskFull, kAccessDenied}) {
    SCOPED_TRACE(status);
    injectFault(FaultSite::FileWrite, status, "bookmarkscache_Explorer.xml");
    EXPECT_FALSE(replaceFileContents(path, "<bookmarks>new</bookmarks>"));
    EXPECT_EQ(lastError(), status);
    clearFaults();
    std::string data;
    ASSERT_TRUE(readWholeFile(path, &data));
    EXPECT_EQ(data, "<bookmarks>old</bookmarks>");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(prefix.path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 1u) << "a temporary file was left";
  }

  injectFault(FaultSite::FileWrite, kDiskFull, "bookmarkscache_Explorer.xml", 1);
  EXPECT_TRUE(replaceFileContents(path, "first"));
  EXPECT_FALSE(replaceFileContents(path, "second"));
  std::string data;
  ASSERT_TRUE(readWholeFile(path, &data));
  EXPECT_EQ(data, "first");
}

}  // namespace
}  // namespace platform
