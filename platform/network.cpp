#include "platform/network.h"

#include <fstream>
#include <system_error>

#include "platform/prefix.h"

namespace platform {

std::filesystem::path offlineMarkerPath() { return prefixRoot() / "run" / "offline"; }

bool internetConnectedState(uint32_t* flags, std::string* connectionName, size_t capacity) {
  std::error_code ec;
  const bool offline = std::filesystem::exists(offlineMarkerPath(), ec);
  if (flags) *flags = offline ? kInternetConnectionOffline
                              : (kInternetConnectionLan | kInternetConnectionConfigured);
  if (connectionName) {
    std::string name = kLanConnectionName;
    if (capacity == 0) {
      name.clear();
    } else if (name.size() > capacity - 1) {
      name.resize(capacity - 1);
    }
    *connectionName = name;
  }
  return !offline;
}

bool setInternetOffline(bool offline) {
  const std::filesystem::path marker = offlineMarkerPath();
  std::error_code ec;
  if (!offline) {
    std::filesystem::remove(marker, ec);
    return !ec;
  }
  prefixDirectory("run");
  std::ofstream file(marker, std::ios::app);
  return static_cast<bool>(file);
}

}  // namespace platform
