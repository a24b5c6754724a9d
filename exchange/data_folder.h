// The per-user data folder "BookmarkPlugin" below the roaming application-data
// folder, and the cache file of an application in it.
#pragma once

#include <filesystem>
#include <string>

namespace exchange {

// The data folder, created when missing. Empty when the application-data
// folder is unknown or the folder cannot be created (the platform's last
// error tells why).
std::filesystem::path dataFolder();

// The data folder / "bookmarkscache_" + application name + ".xml"; the folder
// is created when missing. Empty when dataFolder() is.
std::filesystem::path cacheFilePath(const std::string& applicationName);

}  // namespace exchange
