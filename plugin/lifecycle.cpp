#include "plugin/lifecycle.h"

#include <strings.h>


#include "engine/corvex.h"
#include "platform/codepage.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/message_loop.h"
#include "platform/registry.h"
#include "platform/tick.h"
#include "platform/ui.h"
#include "plugin/favorites/favorites_log.h"
#include "plugin/favorites/last_error_text.h"
#include "plugin/identifiers.h"
#include "plugin/ie_bookmark.h"
#include "plugin/plugin_state.h"
#include "plugin/sync_run.h"

namespace bookmark {
namespace {

constexpr char kSignUpPath[] = "/registration.jsp?action=Navigation&param=0";

// The executable's file name as GetModuleFileName gives it, in a buffer of
// 1024 bytes.
std::string hostFileName() {
  std::string path = platform::executablePath().string();
  if (path.size() > 1023) path.resize(1023);
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The start-up mutex when this call created it, null otherwise.
std::unique_ptr<platform::NamedMutex> createStartupMutexAsFirst() {
  auto mutex = std::make_unique<platform::NamedMutex>(kStartupMutexName);
  if (!mutex->valid() || mutex->alreadyExisted()) return nullptr;
  return mutex;
}

// The Favorites folder as the shell locates it without creating it.
bool favoritesFolderExists() {
  return !platform::findSpecialFolder(platform::SpecialFolder::Favorites).empty();
}

}  // namespace

void onProcessAttach(void* module) {
  favorites::connectExchangeLog();
  PluginState& state = pluginState();
  state.modulePath = platform::moduleFileName(module);
  state.hostIsBrowser = strcasecmp(hostFileName().c_str(), kBrowserExecutable) == 0;
  if (!state.hostIsBrowser) {
    state.firstInstance = false;
    return;
  }

  state.startupMutex = std::make_unique<platform::NamedMutex>(kStartupMutexName);
  state.firstInstance = state.startupMutex->valid() && !state.startupMutex->alreadyExisted();
  if (state.firstInstance) InitInstanceCount(kAppName);
  IncInstanceCount(kAppName);

  if (state.firstInstance && SyncEnabled(kAppName, true) && SyncAfterStart(kAppName)) {
    synchronizeFavorites(kAppName, false);
  }

  state.lastTimerRun = platform::tickCount();
  state.timerId = platform::setThreadTimer(kTimerPeriod, &timerCallback);
  if (state.timerId == 0) {
    platform::showMessageBox(0, favorites::lastErrorText(), kMessageCaption,
                             platform::kMbOk | platform::kMbIconError);
  }

  if (!state.firstInstance) state.startupMutex.reset();
}

void onProcessDetach() {
  PluginState& state = pluginState();
  state.startupMutex.reset();
  if (state.hostIsBrowser) {
    if (state.timerId != 0) {
      platform::killThreadTimer(state.timerId);
      state.timerId = 0;
    }
    DecInstanceCount(kAppName);
    if (GetInstanceCount(kAppName) == 0 && SyncEnabled(kAppName, true) && SyncBeforeExit(kAppName)) {
      synchronizeFavorites(kAppName, false);
    }
  }
  state.errorWindow.reset();
}

uint32_t elapsedMinutes(uint32_t now, uint32_t lastRun) { return (now - lastRun) / 60000u; }

bool timerRunDue(uint32_t now, uint32_t lastRun, int interval) {
  return elapsedMinutes(now, lastRun) >= static_cast<uint32_t>(interval);
}

void timerCallback(uint32_t, uint32_t now) {
  if (!SyncEnabled(kAppName, true) || !SyncAuto(kAppName)) return;
  PluginState& state = pluginState();
  if (!state.firstInstance) {
    // The first process has gone: take its place (the counter stays).
    state.startupMutex = createStartupMutexAsFirst();
    if (!state.startupMutex) return;
    state.firstInstance = true;
  }
  if (!timerRunDue(now, state.lastTimerRun, SyncInterval(kAppName))) return;
  state.lastTimerRun = now;
  synchronizeFavorites(kAppName, false);
}

void onToolbarCommand() {
  if (favoritesFolderExists()) {
    synchronizeFavorites(kAppName, true);
  } else {
    platform::showMessageBox(0, "Can not find Favorites folder.", kMessageCaption, platform::kMbOk);
  }
}

std::string signUpAddress(const std::string& appName) {
  std::string server = "localhost/data";
  uint32_t port = 80;
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, kSettingsKeyBase + appName, &key) ==
      platform::kOk) {
    platform::RegValue value;
    if (key.readValue("server", &value) == platform::kOk && value.type == platform::kRegSz) {
      server = value.data.substr(0, value.data.find('\0'));
    }
    unsigned char number[4] = {0, 0, 0, 0};
    uint32_t size = sizeof number;
    if (key.queryValue("server_port", nullptr, number, &size) == platform::kOk && size == 4) {
      port = static_cast<uint32_t>(number[0]) | static_cast<uint32_t>(number[1]) << 8 |
             static_cast<uint32_t>(number[2]) << 16 | static_cast<uint32_t>(number[3]) << 24;
    }
  }
  std::string host = server.substr(0, server.find('/'));
  std::string address = "http://" + host;
  if (port != 80) address += ":" + std::to_string(port);
  return address + kSignUpPath;
}

void signUpCallback() {
  IEBookmark* object = pluginState().currentObject;
  if (!object || !object->site()) return;
  IServiceProvider* services = nullptr;
  if (object->site()->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services)) != S_OK ||
      !services) {
    return;
  }
  IWebBrowser2* browser = nullptr;
  HRESULT hr = services->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2, reinterpret_cast<void**>(&browser));
  services->Release();
  if (hr != S_OK || !browser) return;
  BSTR url = platform::bstrAlloc(platform::ansiToUtf16(signUpAddress(kAppName)));
  browser->Navigate(url, nullptr, nullptr, nullptr, nullptr);
  platform::bstrFree(url);
  browser->Release();
}

}  // namespace bookmark
