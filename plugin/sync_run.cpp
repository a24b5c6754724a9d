#include "plugin/sync_run.h"

#include <filesystem>
#include <system_error>

#include "engine/corvex.h"
#include "exchange/document.h"
#include "exchange/ordering.h"
#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform/named_mutex.h"
#include "platform/network.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "plugin/error_window.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/last_error_text.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/reader.h"
#include "plugin/favorites/writer.h"
#include "plugin/identifiers.h"
#include "plugin/plugin_state.h"

namespace bookmark {
namespace {

std::string keyPath(const std::string& appName) { return kSettingsKeyBase + appName; }

// The local document united with the engine's cache, or empty when the
// local document does not parse or the union fails. A missing or broken
// cache file only orders and renumbers the local list again.
std::string recoveryDocumentFor(const std::string& documentText, const std::string& appName) {
  exchange::UniqueXmlDoc local = exchange::parseDocumentText(documentText);
  if (!local) return {};
  const std::filesystem::path cachePath = favorites::pluginCachePath(appName);
  exchange::UniqueXmlDoc cache;
  std::error_code ec;
  if (std::filesystem::exists(cachePath, ec)) cache = exchange::parseDocumentFile(cachePath);
  exchange::UniqueXmlNode united =
      exchange::unionWithCache(exchange::rootElement(local.get()), cache ? exchange::rootElement(cache.get()) : nullptr);
  if (!united) return {};
  exchange::UniqueXmlDoc document = exchange::documentWithRoot(std::move(united));
  if (!document) return {};
  return exchange::documentToText(document.get());
}

void showBox(const std::string& text, const char* caption, uint32_t icon) {
  platform::showMessageBox(0, text, caption, platform::kMbOk | icon);
}

void reportToErrorWindow(const std::string& appName, bool runFailed, const std::u16string& errorText) {
  if (ShowErrorIcon(appName) == 0) return;
  PluginState& state = pluginState();
  if (runFailed) {
    if (!state.errorWindow) state.errorWindow = ErrorWindow::create();
    if (!state.errorWindow) return;
    state.errorWindow->showIcon(platform::loadIconResource(state.modulePath, kNotifyIconResource),
                                "Bookmark plugin error");
    state.errorWindow->appendEntry(errorText);
  } else if (state.errorWindow && state.errorWindow->iconShown()) {
    state.errorWindow->removeIcon();
  }
}

}  // namespace

uint32_t readLastSync(const std::string& appName) {
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, keyPath(appName), &key) != platform::kOk) {
    return 1;
  }
  unsigned char buffer[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buffer;
  if (key.queryValue("lastsync", nullptr, buffer, &size) != platform::kOk) return 1;
  return static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
         static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
}

void writeLastSync(const std::string& appName, uint32_t value) {
  platform::RegKey key;
  if (platform::RegKey::create(platform::RegRoot::CurrentUser, keyPath(appName), &key) != platform::kOk) {
    return;
  }
  key.setDword("lastsync", value);
}

void synchronizeFavorites(const std::string& appName, bool interactive) {
  // 1. Offline: nothing at all, not even in an interactive run.
  if (!platform::internetConnectedState(nullptr)) return;

  // 2. Only one run on the whole machine; the mutex is a presence marker.
  platform::NamedMutex runMutex(kRunMutexName);
  if (!runMutex.valid()) {
    if (interactive) showBox(favorites::lastErrorText(), "Information", platform::kMbIconInformation);
    return;
  }
  if (runMutex.alreadyExisted()) {
    if (interactive) {
      showBox("Another synchronization process is running.", "Information", platform::kMbIconInformation);
    }
    return;
  }

  // 4. The local Favorites.
  std::string documentText;
  std::u16string pluginError = favorites::readFavorites(&documentText);

  // 5. After a result that could not be written, the local list is united
  // with the last agreed state so that a half-written folder loses nothing.
  std::string recoveryDocument;
  if (readLastSync(appName) == 0) {
    std::string united = recoveryDocumentFor(documentText, appName);
    if (!united.empty()) {
      documentText = united;
      recoveryDocument = std::move(united);
    }
  }
  uint32_t lastSync = 1;

  bool runFailed = false;
  std::u16string errorText;
  if (!pluginError.empty()) {
    // 6. Reader failure: the engine is not called.
    runFailed = true;
    errorText = pluginError;
    if (interactive) showBox(platform::utf16ToAnsi(pluginError), "Error", platform::kMbIconWarning);
  } else {
    // 7. The engine.
    std::string engineError;
    if (!Synchronize(interactive, appName, &documentText, &engineError)) {
      runFailed = true;
      errorText = platform::ansiToUtf16(engineError);
    } else {
      // 8. The result.
      if (documentText.empty()) documentText = recoveryDocument;
      if (!documentText.empty()) {
        // The writer deletes the folder before it rebuilds it. Should the run
        // be stopped in between, the record already says that the result was
        // not written, and the next run unites what it finds with the cache
        // instead of sending the half-written folder as the user's list.
        writeLastSync(appName, 0);
        pluginError = favorites::writeFavorites(documentText);
        if (!pluginError.empty()) {
          runFailed = true;
          errorText = u"Error while applying synchronization result:\r\n" + pluginError +
                      u"\r\nAuto synchronization is disabled.";
          lastSync = 0;
          SetSyncAuto(appName, 0);
          if (interactive) showBox(platform::utf16ToAnsi(pluginError), "Error", platform::kMbIconWarning);
        }
      }
    }
  }

  // 9. to 11. On every path from here: the record, the menu orders, the mutex.
  writeLastSync(appName, lastSync);
  favorites::flushMenuOrders();
  runMutex.close();

  // 12. The error window.
  reportToErrorWindow(appName, runFailed, errorText);
}

}  // namespace bookmark
