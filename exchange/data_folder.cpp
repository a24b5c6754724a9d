#include "exchange/data_folder.h"

#include "platform/files.h"
#include "platform/folders.h"

namespace exchange {

std::filesystem::path dataFolder() {
  std::filesystem::path appData = platform::specialFolder(platform::SpecialFolder::AppData);
  if (appData.empty()) return {};
  std::filesystem::path folder = appData / "BookmarkPlugin";
  // The folder holds the settings file with the scrambled credentials.
  if (!platform::ensureDirectory(folder, 0700)) return {};
  return folder;
}

std::filesystem::path cacheFilePath(const std::string& applicationName) {
  std::filesystem::path folder = dataFolder();
  if (folder.empty()) return {};
  return folder / ("bookmarkscache_" + applicationName + ".xml");
}

}  // namespace exchange
