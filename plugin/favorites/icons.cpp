#include "plugin/favorites/icons.h"

#include <cstdio>
#include <set>
#include <system_error>
#include <vector>

#include "exchange/data_folder.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "platform/tick.h"
#include "plugin/favorites/base64.h"
#include "plugin/favorites/file_bytes.h"

namespace favorites {
namespace {

constexpr char kApplicationName[] = "Explorer";
constexpr char kIconsFolderKey[] = "icons_folder";
constexpr uint32_t kNameNumbers = 0xFFFF;
constexpr uint64_t kMaxConfigFileSize = 1024 * 1024;

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string hex(uint32_t n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", n);
  return buffer;
}

std::string toAnsi(const std::filesystem::path& path) {
  return platform::utf16ToAnsi(platform::pathToUtf16(path));
}

std::filesystem::path fromAnsi(const std::string& text) {
  return platform::pathFromUtf16(platform::ansiToUtf16(text));
}

// An absolute path: a drive letter, ":" and "\" as the system the shortcut
// files come from writes it, or a path from this file system's root, which
// its paths in shortcut files begin with ("\home\..." or "/home/..."). A
// network path ("\\server\share") is neither, as on the other system.
bool isAbsoluteIconPath(const std::string& value) {
  if (value.size() >= 3 && value[1] == ':' && value[2] == '\\') return true;
  auto separator = [](char c) { return c == '/' || c == '\\'; };
  return !value.empty() && separator(value[0]) && (value.size() == 1 || !separator(value[1]));
}

bool endsWithIco(const std::string& value) {
  if (value.size() < 4) return false;
  std::string tail = value.substr(value.size() - 4);
  for (char& c : tail) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return tail == ".ico";
}

}  // namespace

std::filesystem::path pluginDataFolder() { return exchange::dataFolder(); }

std::filesystem::path pluginConfigPath() {
  const std::filesystem::path folder = pluginDataFolder();
  if (folder.empty()) return folder;
  return folder / (std::string("bookmarks_") + kApplicationName + "2.cfg");
}

std::filesystem::path pluginCachePath(const std::string& applicationName) {
  return exchange::cacheFilePath(applicationName);
}

std::string readConfigValue(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (key.empty() || at == std::string::npos) return std::string();
  at += key.size();
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size() || text[at] != '=') return std::string();
  ++at;
  size_t end = text.find('\n', at);
  if (end == std::string::npos) end = text.size();
  std::string value = text.substr(at, end - at);
  while (!value.empty() && isSpace(value.back())) value.pop_back();
  size_t begin = 0;
  while (begin < value.size() && isSpace(value[begin])) ++begin;
  value.erase(0, begin);
  while (!value.empty() && static_cast<unsigned char>(value.back()) < 32) value.pop_back();
  return value;
}

std::filesystem::path uniqueFolderName(const std::filesystem::path& folder,
                                       const std::string& prefix) {
  uint32_t n = platform::tickCount() % kNameNumbers;
  for (uint32_t tries = 0; tries < kNameNumbers; ++tries) {
    const std::string name = prefix + hex(n);
    // A search on name + "*": a longer name with the same beginning counts
    // as taken too, which keeps the choice on the safe side.
    if (!platform::findMatches(folder / (name + "*"))) return folder / name / "";
    n = (n + 1) % kNameNumbers;
  }
  return std::filesystem::path();
}

std::filesystem::path uniqueFileName(const std::filesystem::path& folder, const std::string& prefix,
                                     const std::string& extension) {
  uint32_t n = platform::tickCount() % kNameNumbers;
  for (uint32_t tries = 0; tries < kNameNumbers; ++tries) {
    std::filesystem::path candidate = folder / (prefix + hex(n) + "." + extension);
    if (!platform::findMatches(candidate)) return candidate;
    n = (n + 1) % kNameNumbers;
  }
  return std::filesystem::path();
}

std::filesystem::path iconsFolder() {
  const std::filesystem::path config = pluginConfigPath();
  if (config.empty()) return std::filesystem::path();
  std::string text;
  if (platform::fileExists(config)) {
    // A few lines; anything much larger is not this file, and is not read.
    uint64_t size = 0;
    if (!platform::fileSize(config, &size) || size > kMaxConfigFileSize) return std::filesystem::path();
    if (!platform::readWholeFile(config, &text) || text.empty()) return std::filesystem::path();
  }
  const std::string configured = readConfigValue(text, kIconsFolderKey);
  if (!configured.empty()) return fromAnsi(configured);

  const std::filesystem::path module =
      platform::modulePath(reinterpret_cast<const void*>(&iconsFolder));
  if (module.empty() || !module.has_parent_path()) return std::filesystem::path();
  const std::filesystem::path folder = uniqueFolderName(module.parent_path(), "FavoritesIcons");
  if (folder.empty() || !platform::makeDirectory(folder)) return std::filesystem::path();
  text += "\r\n" + std::string(kIconsFolderKey) + "=" + toAnsi(folder);
  // Whole or not at all: a settings file cut short would lose the lines of
  // other keys.
  if (!platform::replaceFileContents(config, text)) return std::filesystem::path();
  return folder;
}

std::u16string embedIcon(std::string* iconValue) {
  const std::string& value = *iconValue;
  // Only icon files are sent to the service: an absolute path to anything
  // else (a library or program with an icon index, a large file) stays a
  // path, as a relative one does.
  if (!isAbsoluteIconPath(value) || !endsWithIco(value)) return std::u16string();
  const std::filesystem::path path = fromAnsi(value);
  std::error_code ec;
  if (!platform::fileExists(path) || !std::filesystem::is_regular_file(path, ec)) {
    iconValue->clear();
    return std::u16string();
  }
  std::string bytes;
  bool tooLarge = false;
  switch (readFileBytes(path, &bytes, kMaxEmbeddedIconSize, &tooLarge)) {
    case FileRead::OpenFailed:
      return u"Error while opening file: " + platform::ansiToUtf16(value);
    case FileRead::ReadFailed:
      return u"Error while reading file: " + platform::ansiToUtf16(value);
    case FileRead::Ok:
      break;
  }
  if (tooLarge) return std::u16string();
  *iconValue = kIconDataUriPrefix + base64Encode(bytes);
  return std::u16string();
}

std::string extractIcon(const std::string& dataUri, bool* failed) {
  if (failed) *failed = false;
  const std::string prefix = kIconDataUriPrefix;
  if (dataUri.compare(0, prefix.size(), prefix) != 0) return std::string();
  std::string bytes;
  if (!base64Decode(dataUri.substr(prefix.size()), &bytes) || bytes.empty()) return std::string();
  const std::filesystem::path folder = iconsFolder();
  if (folder.empty()) return std::string();
  const std::filesystem::path file = uniqueFileName(folder, "icon", "ico");
  if (file.empty()) return std::string();
  if (!platform::writeWholeFile(file, bytes)) {
    const platform::Status error = platform::lastError();
    platform::removeFile(file);
    platform::setLastError(error);
    if (failed) *failed = true;
    return toAnsi(file);
  }
  if (IconFilesWritten* ledger = IconFilesWritten::current()) ledger->add(file);
  return toAnsi(file);
}

bool iconValueAllowed(const std::string& value) {
  if (!isAbsoluteIconPath(value) || !endsWithIco(value)) return true;
  const std::filesystem::path folder = iconsFolder();
  if (folder.empty()) return false;
  const std::filesystem::path path = fromAnsi(value).lexically_normal();
  return path.parent_path() == (folder / "").lexically_normal().parent_path() && path.filename() != "..";
}

namespace {
IconFilesWritten* g_currentLedger = nullptr;
}  // namespace

IconFilesWritten::IconFilesWritten() : previous_(g_currentLedger) { g_currentLedger = this; }

IconFilesWritten::~IconFilesWritten() { g_currentLedger = previous_; }

IconFilesWritten* IconFilesWritten::current() { return g_currentLedger; }

void IconFilesWritten::removeAll() {
  for (const std::filesystem::path& file : files_) platform::removeFile(file);
  files_.clear();
}

void IconFilesWritten::removeOthers() const {
  const std::filesystem::path folder = iconsFolder();
  if (folder.empty()) return;
  std::vector<platform::DirectoryEntry> icons;
  if (!platform::findMatches(folder / "*.ico", &icons)) return;
  std::set<std::filesystem::path> written;
  for (const std::filesystem::path& mine : files_) written.insert(mine.filename());
  for (const platform::DirectoryEntry& icon : icons) {
    if (!icon.directory && !written.count(icon.name)) platform::removeFile(folder / icon.name);
  }
}

}  // namespace favorites
