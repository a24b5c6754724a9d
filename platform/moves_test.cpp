#include "platform/moves.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

TEST(Moves, MovesFilesAndFoldersButNeverReplaces) {
  testsupport::TempPrefix prefix;
  const std::filesystem::path root = prefix.path();
  ASSERT_TRUE(ensureDirectory(root / "a" / "inner"));
  ASSERT_TRUE(writeWholeFile(root / "a" / "inner" / "x.url", "x"));
  ASSERT_TRUE(writeWholeFile(root / "taken", "old"));

  EXPECT_TRUE(movePath(root / "a", root / "b"));
  std::string text;
  EXPECT_TRUE(readWholeFile(root / "b" / "inner" / "x.url", &text));
  EXPECT_EQ(text, "x");

  ASSERT_TRUE(writeWholeFile(root / "new", "new"));
  EXPECT_FALSE(movePath(root / "new", root / "taken"));
  EXPECT_EQ(lastError(), kAlreadyExists);
  EXPECT_TRUE(readWholeFile(root / "taken", &text));
  EXPECT_EQ(text, "old");

  EXPECT_FALSE(movePath(root / "missing", root / "elsewhere"));
  EXPECT_EQ(lastError(), kPathNotFound);

  injectFault(FaultSite::FileMove, kAccessDenied, "refused");
  EXPECT_FALSE(movePath(root / "new", root / "refused"));
  EXPECT_EQ(lastError(), kAccessDenied);
  clearFaults();
  EXPECT_TRUE(std::filesystem::exists(root / "new"));
  EXPECT_TRUE(flushFileSystem(root));
}

TEST(Moves, AKillFaultEndsTheProcessAtTheCountedCall) {
  testsupport::TempPrefix prefix;
  const std::filesystem::path root = prefix.path();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("QUORVANE_FAULTS", "file-write=kill@step#2", 1);
    for (int i = 0; i < 5; ++i) writeWholeFile(root / ("step" + std::to_string(i)), "x");
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_TRUE(std::filesystem::exists(root / "step1"));
  EXPECT_FALSE(std::filesystem::exists(root / "step2"));
}

}  // namespace
}  // namespace platform
