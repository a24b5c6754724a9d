#include "engine/client_app.h"

#include <new>
#include <utility>

#include "engine/settings_file.h"
#include "engine/settings_registry.h"
#include "engine/validation.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace corvex {
namespace {

RegisterFunc g_registerFunc = nullptr;

}  // namespace

ClientApp::ClientApp(const std::string& name)
    : platform::NamedMutex(kClientAppMutexName, false),
      appName(name),
      registryKeyPath(kRegistryKeyBase + name),
      settingsFileName_(
          platform::pathFromUtf16(platform::ansiToUtf16("bookmarks_" + name + ".cfg"))) {}

ClientApp::~ClientApp() {
  try {
    saveSettingsFile(*this);
  } catch (...) {
  }
}

boost::shared_ptr<ClientApp> ClientApp::create(const std::string& name) {
  boost::shared_ptr<ClientApp> app(new ClientApp(name));
  if (loadSettingsFile(*app)) {
    // The file holds the state of the last process that unloaded: it becomes
    // the shared copy, over whatever other processes saved there since.
    saveSettingsToRegistry(*app);
  } else {
    loadSettingsFromRegistry(*app);
  }
  validateSettingsLogged(*app);
  return app;
}

ClientAppRegistry& clientAppRegistry() {
  // Deliberately never destroyed by static destruction: see the header. It
  // lives in static storage rather than on the heap, so that once the unload
  // has emptied it nothing of it is left allocated.
  alignas(ClientAppRegistry) static unsigned char storage[sizeof(ClientAppRegistry)];
  static ClientAppRegistry* registry = new (storage) ClientAppRegistry;
  return *registry;
}

ClientApp* getClientApp(const std::string& name) {
  ClientAppRegistry& registry = clientAppRegistry();
  auto found = registry.find(name);
  if (found != registry.end()) return found->second.get();
  boost::shared_ptr<ClientApp> app = ClientApp::create(name);
  ClientApp* result = app.get();
  registry.emplace(name, std::move(app));
  return result;
}

void destroyClientApps() {
  ClientAppRegistry& registry = clientAppRegistry();
  while (!registry.empty()) registry.erase(registry.begin());
}

uint32_t readInstanceCount(ClientApp& app) {
  ClientAppLock hold(app);
  if (!hold.locked()) return 0;
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, app.registryKeyPath, &key) !=
      platform::kOk) {
    return 0;
  }
  unsigned char buffer[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buffer;
  if (key.queryValue("inscount", nullptr, buffer, &size) != platform::kOk) return 0;
  return static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
         static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
}

void writeInstanceCount(ClientApp& app, uint32_t count) {
  ClientAppLock hold(app);
  if (!hold.locked()) return;
  platform::RegKey key;
  if (platform::RegKey::create(platform::RegRoot::CurrentUser, app.registryKeyPath, &key) !=
      platform::kOk) {
    return;
  }
  key.setDword("inscount", count);
}

void setRegisterFunc(RegisterFunc func) { g_registerFunc = func; }

RegisterFunc registerFunc() { return g_registerFunc; }

}  // namespace corvex
