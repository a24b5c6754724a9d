#include "exchange/log_file.h"

#include "exchange/data_folder.h"
#include "platform/files.h"

namespace exchange {

std::filesystem::path logFilePath() {
  const std::filesystem::path folder = dataFolder();
  if (folder.empty()) return folder;
  return folder / "bookmarks.log";
}

std::string logPrefix(const char* module, std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char date[16];
  char time[16];
  std::strftime(date, sizeof date, "%m/%d/%y", &local);
  std::strftime(time, sizeof time, "%H:%M:%S", &local);
  std::string prefix;
  prefix.append(date).append(" ").append(time).append(": ");
  prefix.append(module ? module : kUnknownModule).append(": ");
  return prefix;
}

std::string appendLogEntry(const char* module, const std::string& text) {
  try {
    std::string entry = logPrefix(module, std::time(nullptr)) + text;
    const std::filesystem::path path = logFilePath();
    if (!path.empty()) {
      uint64_t size = 0;
      if (platform::fileExists(path) && platform::fileSize(path, &size) && size > kLogSizeLimit) {
        platform::removeFile(path);
      }
      platform::appendToFile(path, entry);
    }
    return entry;
  } catch (...) {
    return std::string();
  }
}

}  // namespace exchange
