#include "platform/folders.h"

#include <cerrno>
#include <system_error>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/prefix.h"

namespace platform {
namespace {

std::filesystem::path folderPath(SpecialFolder folder) {
  std::filesystem::path relative;
  switch (folder) {
    case SpecialFolder::Favorites: relative = "profile/Favorites"; break;
    case SpecialFolder::AppData: relative = "profile/AppData/Roaming"; break;
    case SpecialFolder::Temp: relative = "tmp"; break;
  }
  return prefixRoot() / relative;
}

}  // namespace

std::filesystem::path specialFolder(SpecialFolder folder) {
  std::filesystem::path path = folderPath(folder);
  std::error_code created;
  std::filesystem::create_directories(path, created);
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    setLastErrorFromErrno(created ? created.value() : ENOTDIR);
    return {};
  }
  return path;
}

std::filesystem::path findSpecialFolder(SpecialFolder folder) {
  std::filesystem::path path = folderPath(folder);
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    setLastError(kPathNotFound);
    return {};
  }
  return path;
}

}  // namespace platform
