#include "plugin/sync_run.h"

#include <filesystem>
#include <optional>
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
      exchange::unionWithCache(exchange::rootElement(local.get()), cache ? exchange::rootElement(cache.get()) : nullptr,
                               appName);
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

// "lastsync" as stored (4 bytes, little-endian) into *value; the status of
// opening the key and reading the value.
platform::Status queryLastSync(const std::string& appName, uint32_t* value) {
  platform::RegKey key;
  platform::Status status = platform::RegKey::open(platform::RegRoot::CurrentUser, keyPath(appName), &key);
  if (status != platform::kOk) return status;
  unsigned char buffer[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buffer;
  status = key.queryValue("lastsync", nullptr, buffer, &size);
  if (status != platform::kOk) return status;
  *value = static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
           static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
  return platform::kOk;
}

platform::Status storeLastSync(const std::string& appName, uint32_t value) {
  platform::RegKey key;
  const platform::Status status = platform::RegKey::create(platform::RegRoot::CurrentUser, keyPath(appName), &key);
  return status != platform::kOk ? status : key.setDword("lastsync", value);
}

// Stores "lastsync" 0 and reads it back: true only when it is there. A
// refused write still leaves a 0 that an earlier run stored. On failure the
// last error tells why.
bool recordPendingResult(const std::string& appName) {
  const platform::Status written = storeLastSync(appName, 0);
  uint32_t value = 1;
  const platform::Status read = queryLastSync(appName, &value);
  if (read == platform::kOk && value == 0) return true;
  platform::setLastError(written != platform::kOk ? written : read != platform::kOk ? read : platform::kRegistryIo);
  return false;
}

// The system text of the last error without its line break.
std::u16string trimmedErrorText() {
  std::u16string text = favorites::lastErrorText16();
  while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r')) text.pop_back();
  return text;
}

}  // namespace

uint32_t readLastSync(const std::string& appName) {
  uint32_t value = 1;
  return queryLastSync(appName, &value) == platform::kOk ? value : 1;
}

bool writeLastSync(const std::string& appName, uint32_t value) {
  return storeLastSync(appName, value) == platform::kOk;
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

  // 4. The local Favorites, and what of them the writer may replace.
  std::string documentText;
  favorites::ReadSet read;
  std::u16string pluginError = favorites::readFavorites(&documentText, &read);

  // 5. After a result that may not have been written, the local list is
  // united with the last agreed state so that a half-written folder loses
  // nothing.
  const uint32_t recorded = readLastSync(appName);
  std::string recoveryDocument;
  if (recorded == 0) {
    std::string united = recoveryDocumentFor(documentText, appName);
    if (!united.empty()) {
      documentText = united;
      recoveryDocument = std::move(united);
    }
  }

  bool runFailed = false;
  std::u16string errorText;
  std::optional<uint32_t> lastSync;  // what the run records at its end, if anything
  // A failed run: `entry` for the error window and, in an interactive run,
  // `shown` in a message box (none when empty).
  auto fail = [&](const std::u16string& entry, const std::u16string& shown) {
    runFailed = true;
    errorText = entry;
    if (interactive && !shown.empty()) showBox(platform::utf16ToAnsi(shown), "Error", platform::kMbIconWarning);
  };
  if (!pluginError.empty()) {
    // 6. Reader failure: the engine is not called, the record stays.
    fail(pluginError, pluginError);
  } else if (!recordPendingResult(appName)) {
    // Without the record, a result the engine agrees on but that is not
    // written would make the next run take what the folder lacks as
    // deleted: the engine is not called.
    const std::u16string error =
        u"The synchronization result could not be applied: the registry value \"lastsync\" could not be stored (" +
        trimmedErrorText() + u").";
    fail(error, error);
  } else {
    // 7. The engine.
    std::string engineError;
    if (!Synchronize(interactive, appName, &documentText, &engineError)) {
      fail(platform::ansiToUtf16(engineError), std::u16string());
      if (recorded != 0) lastSync = recorded;
    } else {
      // 8. The result.
      if (documentText.empty()) documentText = recoveryDocument;
      if (!documentText.empty()) pluginError = favorites::writeFavorites(documentText, &read);
      if (!pluginError.empty()) {
        SetSyncAuto(appName, 0);
        fail(u"Error while applying synchronization result:\r\n" + pluginError + u"\r\nAuto synchronization is disabled.",
             pluginError);
      } else {
        lastSync = 1;
      }
    }
  }

  // 9. to 11. On every path from here: the record, the menu orders, the mutex.
  if (lastSync) writeLastSync(appName, *lastSync);
  favorites::flushMenuOrders();
  runMutex.close();

  // 12. The error window.
  reportToErrorWindow(appName, runFailed, errorText);
}

}  // namespace bookmark
