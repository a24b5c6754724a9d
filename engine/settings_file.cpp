#include "engine/settings_file.h"

#include <exception>
#include <string>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "engine/settings_text.h"
#include "platform/files.h"
#include "platform/folders.h"

namespace corvex {
namespace {

// The path as the log shows it: the file system's own bytes, so that it can
// be copied from the log (and no conversion runs at unload).
std::string pathText(const std::filesystem::path& path) { return path.string(); }

}  // namespace

std::filesystem::path settingsFilePath(const ClientApp& app) {
  std::filesystem::path folder = platform::specialFolder(platform::SpecialFolder::AppData);
  folder /= "BookmarkPlugin";
  platform::ensureDirectory(folder, 0700);
  return folder / app.settingsFileName();
}

bool loadSettingsFile(ClientApp& app) {
  std::filesystem::path path;
  try {
    path = settingsFilePath(app);
    std::string text;
    if (!platform::fileExists(path) || !platform::readWholeFile(path, &text)) return false;
    applySettingsFileText(text, app);
    logMessage(app.appName.c_str(), "Application settings has been loaded successfully from %s.\n",
               pathText(path).c_str());
    return true;
  } catch (const std::exception& e) {
    logMessage(app.appName.c_str(), "Application settings has been failed from %s: %s.\n",
               pathText(path).c_str(), e.what());
    return false;
  }
}

bool saveSettingsFile(const ClientApp& app) {
  std::filesystem::path path;
  bool saved = false;
  try {
    path = settingsFilePath(app);
    // Replaced whole: a file cut by a kill or a full disk would be taken at
    // the next load, its missing lines at their defaults, and copied over
    // the registry's complete set.
    saved = platform::replaceFileContents(path, settingsFileText(app), 0600);
  } catch (const std::exception&) {
    saved = false;
  }
  if (saved) {
    logMessage(app.appName.c_str(), "Application settings has been saved to %s.\n",
               pathText(path).c_str());
  } else {
    logMessage(app.appName.c_str(), "Erorr while saving application settings to %s.\n",
               pathText(path).c_str());
  }
  return saved;
}

}  // namespace corvex
