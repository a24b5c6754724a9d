// The shell's delete operation (FO_DELETE, no confirmation, no progress, no
// error display, not into the recycle bin): a file, a folder with everything
// inside it, or a wildcard pattern in the last component (platform/directory.h
// wildcardMatch), whose matching files and folders are all deleted.
//
// The system the product was written for allows no "*" or "?" in names; this
// one does, so the caller says whether the last component is a pattern or
// the exact name of one object.
//
// Symbolic links are deleted themselves, never followed: nothing outside the
// named folder is touched.
#pragma once

#include <filesystem>

#include "platform/errors.h"
#include "platform/export.h"

namespace platform {

struct ShellDeleteResult {
  // The operation's result: kOk, or the first error met (kFileNotFound when
  // the path or the pattern names nothing).
  Status error = kOk;
  // The operation stopped part way: an object that exists could not be
  // deleted. Later objects were left in place.
  bool aborted = false;
};

enum class ShellDeleteTarget {
  Pattern,  // the last component may hold wildcards
  Exact,    // the last component is a name, taken literally
};

// Deletes what the path names. When error is not kOk it is also the calling
// thread's last error.
PLATFORM_API ShellDeleteResult shellDeleteObjects(
    const std::filesystem::path& path, ShellDeleteTarget target = ShellDeleteTarget::Pattern);

}  // namespace platform
