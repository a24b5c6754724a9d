#include "engine/engine_log.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/last_error.h"

namespace corvex {
namespace {

std::string formatV(const char* format, va_list args) {
  if (!format) return std::string();
  va_list measure;
  va_copy(measure, args);
  int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

}  // namespace

std::filesystem::path logFilePath() {
  std::filesystem::path folder = platform::specialFolder(platform::SpecialFolder::AppData);
  if (folder.empty()) return std::filesystem::path();
  folder /= "BookmarkPlugin";
  // The folder also holds the settings files with their credentials.
  platform::ensureDirectory(folder, 0700);
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

void logMessageV(const char* module, const char* format, va_list args) {
  // The log must never take its caller down with it.
  try {
    std::string entry = logPrefix(module, std::time(nullptr));
    entry += formatV(format, args);

    std::filesystem::path path = logFilePath();
    if (!path.empty()) {
      uint64_t size = 0;
      if (platform::fileExists(path) && platform::fileSize(path, &size) && size > kLogSizeLimit) {
        platform::removeFile(path);
      }
      platform::appendToFile(path, entry);
    }
    std::fwrite(entry.data(), 1, entry.size(), stdout);
    std::fflush(stdout);
  } catch (...) {
  }
}

void logMessage(const char* module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logMessageV(module, format, args);
  va_end(args);
}

std::string lastErrorText() {
  std::string text;
  if (!platform::systemErrorText(platform::lastError(), &text)) {
    return "FormatMessage for error has been failed";
  }
  return text;
}

}  // namespace corvex
