#include "platform/moves.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/fault_points.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace platform {

bool movePath(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (Status status = injectedFault(FaultSite::FileMove, to.string()); status != kOk) {
    setLastError(status);
    return false;
  }
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  switch (errno) {
    case EEXIST: setLastError(kAlreadyExists); break;
    case ENOENT: setLastError(kPathNotFound); break;
    default: setLastErrorFromErrno(errno); break;
  }
  return false;
}

bool flushFileSystem(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid() || ::syncfs(fd.get()) != 0) {
    setLastErrorFromErrno(errno);
    return false;
  }
  return true;
}

}  // namespace platform
