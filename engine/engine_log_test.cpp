#include "engine/engine_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/engine_test_support.h"
#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace corvex {
namespace {

class EngineLogTest : public ::testing::Test {
 protected:
  std::filesystem::path logPath() const {
    return prefix_.path() / "profile/AppData/Roaming/BookmarkPlugin/bookmarks.log";
  }
  testsupport::TempPrefix prefix_;
};

TEST(LogPrefixTest, ShortDateTimeAndModule) {
  const char* oldTz = std::getenv("TZ");
  std::string saved = oldTz ? oldTz : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(logPrefix("Explorer", 1700000000), "11/14/23 22:13:20: Explorer: ");
  EXPECT_EQ(logPrefix("LIBXML", 946684799), "12/31/99 23:59:59: LIBXML: ");
  EXPECT_EQ(logPrefix(nullptr, 1000000000), "09/09/01 01:46:40: <can't determine application>: ");
  if (oldTz)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

TEST_F(EngineLogTest, AppendsOneEntryPerCallAndCopiesToStandardOutput) {
  testing::internal::CaptureStdout();
  logMessage("Explorer", "Synchronization started with %d items:\n<a>\n</a>\n", 3);
  logMessage(nullptr, "no module\n");
  logMessage(kLibxmlModule, "part one, ");
  logMessage(kLibxmlModule, "part two\n");
  std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(logPath(), logFilePath());
  std::string text = test::readFileText(logPath());
  EXPECT_EQ(text, out);
  EXPECT_EQ(test::maskTimestamps(text),
            "<stamp> Explorer: Synchronization started with 3 items:\n<a>\n</a>\n"
            "<stamp> <can't determine application>: no module\n"
            "<stamp> LIBXML: part one, <stamp> LIBXML: part two\n");

  struct stat st;
  ASSERT_EQ(stat(logPath().parent_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(EngineLogTest, FileBeyondTheLimitIsReplaced) {
  struct Case {
    uint64_t size;
    bool replaced;
  };
  for (Case c : {Case{kLogSizeLimit, false}, Case{kLogSizeLimit + 1, true}, Case{5u << 20, true}}) {
    SCOPED_TRACE(c.size);
    std::filesystem::path path = logFilePath();
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(c.size, 'o'); }
    testing::internal::CaptureStdout();
    logMessage("Explorer", "next\n");
    std::string entry = testing::internal::GetCapturedStdout();
    std::string text = test::readFileText(path);
    if (c.replaced) {
      EXPECT_EQ(text, entry);
    } else {
      EXPECT_EQ(text.size(), c.size + entry.size());
      EXPECT_EQ(text.substr(c.size), entry);
    }
  }
}

TEST_F(EngineLogTest, UnwritableFileStillReachesStandardOutput) {
  std::filesystem::create_directories(logPath());  // a folder where the file belongs
  testing::internal::CaptureStdout();
  logMessage("Explorer", "only here\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Explorer: only here\n"), std::string::npos);
}

TEST(LastErrorTextTest, SystemTextOrTheFallback) {
  platform::setLastError(platform::kFileNotFound);
  std::string expected;
  ASSERT_TRUE(platform::systemErrorText(platform::kFileNotFound, &expected));
  EXPECT_EQ(lastErrorText(), expected);
  platform::setLastError(0xDEAD0001u);
  EXPECT_EQ(lastErrorText(), "FormatMessage for error has been failed");
}

}  // namespace
}  // namespace corvex
