#include "engine/settings_registry.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/client_app.h"
#include "engine/scramble.h"
#include "platform/registry.h"

namespace corvex {
namespace {

constexpr uint32_t kStringBufferSize = 1024;

bool readNumber(const platform::RegKey& key, const char* name, uint32_t* value) {
  unsigned char buffer[4] = {0, 0, 0, 0};
  uint32_t size = sizeof buffer;
  if (key.queryValue(name, nullptr, buffer, &size) != platform::kOk) return false;
  *value = static_cast<uint32_t>(buffer[0]) | static_cast<uint32_t>(buffer[1]) << 8 |
           static_cast<uint32_t>(buffer[2]) << 16 | static_cast<uint32_t>(buffer[3]) << 24;
  return true;
}

template <typename Field>
bool readNumberField(const platform::RegKey& key, const char* name, Field* field) {
  uint32_t value = 0;
  if (!readNumber(key, name, &value)) return false;
  *field = static_cast<Field>(value);
  return true;
}

bool readString(const platform::RegKey& key, const char* name, std::string* value) {
  char buffer[kStringBufferSize];
  uint32_t size = sizeof buffer;
  if (key.queryValue(name, nullptr, buffer, &size) != platform::kOk) return false;
  if (size > sizeof buffer) return false;
  // Up to the terminating zero, or the whole value when it has none.
  const void* zero = std::memchr(buffer, 0, size);
  value->assign(buffer, zero ? static_cast<const char*>(zero) - buffer : size);
  return true;
}

bool readCredential(const platform::RegKey& key, const char* name, std::string* field) {
  std::string text;
  if (!readString(key, name, &text)) return false;
  *field = text.empty() ? std::string() : unscrambleCredential(text);
  return true;
}

std::string scrambledOrEmpty(const std::string& clear) {
  return clear.empty() ? std::string() : scrambleCredential(clear);
}

}  // namespace

bool loadSettingsFromRegistry(ClientApp& app) {
  ClientAppLock hold(app);
  if (!hold.locked()) return false;
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, app.registryKeyPath, &key) !=
      platform::kOk) {
    return false;
  }
  return readNumberField(key, "enabled", &app.enabled) && readString(key, "server", &app.server) &&
         readNumberField(key, "server_port", &app.serverPort) &&
         readCredential(key, "username", &app.username) &&
         readCredential(key, "password", &app.password) &&
         readNumberField(key, "sync_auto", &app.syncAuto) &&
         readNumberField(key, "sync_period", &app.syncPeriod) &&
         readNumberField(key, "sync_afterstart", &app.syncAfterStart) &&
         readNumberField(key, "sync_beforeexit", &app.syncBeforeExit) &&
         readNumberField(key, "proxy_auth", &app.proxyAuth) &&
         readCredential(key, "proxy_username", &app.proxyUsername) &&
         readCredential(key, "proxy_password", &app.proxyPassword) &&
         readNumberField(key, "error_icon", &app.errorIcon);
}

void saveSettingsToRegistry(ClientApp& app) {
  ClientAppLock hold(app);
  if (!hold.locked()) return;
  platform::RegKey key;
  if (platform::RegKey::create(platform::RegRoot::CurrentUser, app.registryKeyPath, &key) !=
      platform::kOk) {
    return;
  }
  std::vector<platform::RegValue> values;
  auto number = [&values](const char* name, auto value) {
    uint32_t v = static_cast<uint32_t>(value);
    const char bytes[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                           static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
    values.push_back({name, platform::kRegDword, std::string(bytes, 4)});
  };
  auto text = [&values](const char* name, const std::string& value) {
    values.push_back({name, platform::kRegSz, std::string(value.c_str(), value.size() + 1)});
  };
  number("enabled", app.enabled);
  text("server", app.server);
  number("server_port", app.serverPort);
  text("username", scrambledOrEmpty(app.username));
  text("password", scrambledOrEmpty(app.password));
  number("sync_auto", app.syncAuto);
  number("sync_period", app.syncPeriod);
  number("sync_afterstart", app.syncAfterStart);
  number("sync_beforeexit", app.syncBeforeExit);
  number("proxy_auth", app.proxyAuth);
  text("proxy_username", scrambledOrEmpty(app.proxyUsername));
  text("proxy_password", scrambledOrEmpty(app.proxyPassword));
  number("error_icon", app.errorIcon);
  // One transaction: besides the mutex, which keeps the engine's own readers
  // out, this keeps any other reader from seeing half a set.
  key.setValues(values);
}

}  // namespace corvex
