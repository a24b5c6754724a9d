#include "platform/shell_delete.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/directory.h"
#include "platform/last_error.h"

namespace platform {
namespace {

bool hasWildcard(const std::string& component) {
  return component.find_first_of("*?") != std::string::npos;
}

// Deletes one object: a link or file by unlinking it, a directory with its
// contents (std::filesystem::remove_all never follows links).
Status deleteObject(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  if (ec) return setLastErrorFromErrno(ec.value());
  return kOk;
}

}  // namespace

ShellDeleteResult shellDeleteObjects(const std::filesystem::path& path, ShellDeleteTarget target) {
  ShellDeleteResult result;
  const std::string last = path.filename().string();
  std::vector<std::filesystem::path> targets;
  if (target == ShellDeleteTarget::Pattern && hasWildcard(last)) {
    std::vector<DirectoryEntry> matches;
    if (!findMatches(path, &matches)) {
      result.error = lastError();
      return result;
    }
    for (const DirectoryEntry& entry : matches) targets.push_back(path.parent_path() / entry.name);
  } else {
    struct stat st;
    if (path.empty() || lstat(path.c_str(), &st) != 0) {
      result.error = setLastErrorFromErrno(path.empty() ? ENOENT : errno);
      return result;
    }
    targets.push_back(path);
  }
  for (const std::filesystem::path& target : targets) {
    Status status = deleteObject(target);
    if (status != kOk) {
      result.error = status;
      result.aborted = true;
      setLastError(status);
      return result;
    }
  }
  return result;
}

}  // namespace platform
