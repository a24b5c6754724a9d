#include "platform/prefix.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::filesystem::path prefixRoot() {
  if (const char* prefix = std::getenv("QUORVANE_PREFIX"); prefix && *prefix) {
    return std::filesystem::path(prefix);
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".quorvane";
}

std::filesystem::path prefixDirectory(const std::filesystem::path& relative) {
  std::filesystem::path dir = prefixRoot() / relative;
  std::error_code ec;
  if (std::filesystem::create_directories(dir, ec)) {
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
  }
  return dir;
}

}  // namespace platform
