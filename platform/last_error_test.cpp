#include "platform/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace platform {
namespace {

TEST(LastError, IsPerThread) {
  setLastError(kAccessDenied);
  Status seenByOther = 12345;
  std::thread other([&] {
    seenByOther = lastError();
    setLastError(kDiskFull);
  });
  other.join();
  EXPECT_EQ(seenByOther, kOk);
  EXPECT_EQ(lastError(), kAccessDenied);
}

TEST(LastError, MapsErrnoOntoWin32Codes) {
  struct Row {
    int err;
    Status code;
  } rows[] = {
      {ENOENT, kFileNotFound}, {ENOTDIR, kPathNotFound}, {EACCES, kAccessDenied},
      {EPERM, kAccessDenied},  {ENOSPC, kDiskFull},      {EEXIST, kFileExists},
      {ENAMETOOLONG, kFilenameTooLong}, {ENOTEMPTY, kDirNotEmpty}, {EXDEV, kNotSameDevice}, {EIO, kGenericFailure},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.err);
    EXPECT_EQ(setLastErrorFromErrno(row.err), row.code);
    EXPECT_EQ(lastError(), row.code);
  }
}

TEST(LastError, SystemTextsAreTheMessageTableSentences) {
  struct Row {
    Status code;
    const char* text;
  } rows[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {112, "There is not enough space on the disk.\r\n"},
      {183, "Cannot create a file when that file already exists.\r\n"},
      {234, "More data is available.\r\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    std::string text;
    ASSERT_TRUE(systemErrorText(row.code, &text));
    EXPECT_EQ(text, row.text);
  }
}

TEST(LastError, EveryPlatformCodeHasATextAndUnknownCodesHaveNone) {
  for (Status code : {kOk, kFileNotFound, kPathNotFound, kAccessDenied, kInvalidHandle,
                      kNotEnoughMemory, kWriteFault, kReadFault, kSharingViolation, kHandleDiskFull,
                      kFileExists, kInvalidParameter, kDiskFull, kInsufficientBuffer, kInvalidName,
                      kDirNotEmpty, kBusy, kAlreadyExists, kFilenameTooLong, kMoreData,
                      kNoMoreItems, kBadPathname, kCantOpenRegistryKey, kRegistryIo, kKeyDeleted,
                      kTimeout, kGenericFailure, kTooManyOpenFiles, kNotSupported, kNotOwner,
                      kNotSameDevice}) {
    SCOPED_TRACE(code);
    std::string text;
    ASSERT_TRUE(systemErrorText(code, &text));
    EXPECT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 3), ".\r\n");
  }
  std::string untouched = "keep";
  EXPECT_FALSE(systemErrorText(12029, &untouched));
  EXPECT_FALSE(systemErrorText(0xFFFFFFFFu, &untouched));
  EXPECT_EQ(untouched, "keep");
}

}  // namespace
}  // namespace platform
