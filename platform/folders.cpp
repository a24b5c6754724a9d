#include "platform/folders.h"

#include <cerrno>
#include <system_error>

#include "platform/last_error.h"
#include "platform/prefix.h"

namespace platform {

std::filesystem::path specialFolder(SpecialFolder folder) {
  std::filesystem::path relative;
  switch (folder) {
    case SpecialFolder::Favorites: relative = "profile/Favorites"; break;
    case SpecialFolder::AppData: relative = "profile/AppData/Roaming"; break;
    case SpecialFolder::Temp: relative = "tmp"; break;
  }
  std::filesystem::path path = prefixRoot() / relative;
  std::error_code created;
  std::filesystem::create_directories(path, created);
  std::error_code ec;
  if (!std::filesystem::is_directory(path, ec)) {
    setLastErrorFromErrno(created ? created.value() : ENOTDIR);
    return {};
  }
  return path;
}

}  // namespace platform
