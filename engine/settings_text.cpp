#include "engine/settings_text.h"

#include <climits>
#include <cstdint>

#include "engine/client_app.h"
#include "engine/scramble.h"

namespace corvex {
namespace {

bool isSpaceByte(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

void appendLine(std::string* text, const char* key, const std::string& value) {
  text->append(key).append("=").append(value).append("\r\n");
}

void appendNumber(std::string* text, const char* key, int32_t value) {
  appendLine(text, key, std::to_string(value));
}

void appendCredential(std::string* text, const char* key, const std::string& clear) {
  if (!clear.empty()) appendLine(text, key, scrambleCredential(clear));
}

template <typename Field>
void applyNumber(const std::string& text, const char* key, Field* field) {
  if (auto value = findSettingValue(text, key))
    *field = static_cast<Field>(parseSettingNumber(*value));
}

}  // namespace

std::optional<std::string> findSettingValue(const std::string& text, const std::string& key) {
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    if (text.compare(lineStart, key.size(), key) == 0 && lineStart + key.size() <= lineEnd) {
      size_t pos = lineStart + key.size();
      while (pos < lineEnd && text[pos] == ' ') ++pos;
      if (pos < lineEnd && text[pos] == '=') {
        size_t begin = pos + 1;
        size_t end = lineEnd;
        while (begin < end && isSpaceByte(text[begin])) ++begin;
        while (end > begin && isSpaceByte(text[end - 1])) --end;
        while (end > begin && static_cast<unsigned char>(text[end - 1]) < 32) --end;
        return text.substr(begin, end - begin);
      }
    }
    if (lineEnd == text.size()) break;
    lineStart = lineEnd + 1;
  }
  return std::nullopt;
}

int32_t parseSettingNumber(const std::string& value) {
  size_t pos = 0;
  while (pos < value.size() && isSpaceByte(value[pos])) ++pos;
  bool negative = false;
  if (pos < value.size() && (value[pos] == '+' || value[pos] == '-')) {
    negative = value[pos] == '-';
    ++pos;
  }
  int64_t number = 0;
  for (; pos < value.size() && value[pos] >= '0' && value[pos] <= '9'; ++pos) {
    number = number * 10 + (value[pos] - '0');
    if (number > static_cast<int64_t>(INT32_MAX) + 1) break;
  }
  if (negative) number = -number;
  if (number > INT32_MAX) return INT32_MAX;
  if (number < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(number);
}

std::string settingsFileText(const ClientApp& app) {
  std::string text;
  appendLine(&text, "enabled", app.enabled != 0 ? "1" : "0");
  if (!app.server.empty()) appendLine(&text, "server", app.server);
  appendNumber(&text, "server.port", static_cast<int32_t>(app.serverPort));
  appendCredential(&text, "username", app.username);
  appendCredential(&text, "password", app.password);
  appendNumber(&text, "sync.auto", app.syncAuto);
  appendNumber(&text, "sync.period", static_cast<int32_t>(app.syncPeriod));
  appendNumber(&text, "sync.afterstart", app.syncAfterStart);
  appendNumber(&text, "sync.beforeexit", app.syncBeforeExit);
  appendNumber(&text, "proxy.auth", app.proxyAuth);
  appendCredential(&text, "proxy.username", app.proxyUsername);
  appendCredential(&text, "proxy.password", app.proxyPassword);
  appendNumber(&text, "erroricon", app.errorIcon);
  return text;
}

void applySettingsFileText(const std::string& text, ClientApp& app) {
  applyNumber(text, "enabled", &app.enabled);
  if (auto value = findSettingValue(text, "server")) app.server = *value;
  applyNumber(text, "server.port", &app.serverPort);
  std::optional<std::string> username = findSettingValue(text, "username");
  std::optional<std::string> password = findSettingValue(text, "password");
  applyNumber(text, "sync.auto", &app.syncAuto);
  applyNumber(text, "sync.period", &app.syncPeriod);
  applyNumber(text, "sync.afterstart", &app.syncAfterStart);
  applyNumber(text, "sync.beforeexit", &app.syncBeforeExit);
  applyNumber(text, "proxy.auth", &app.proxyAuth);
  std::optional<std::string> proxyUsername = findSettingValue(text, "proxy.username");
  std::optional<std::string> proxyPassword = findSettingValue(text, "proxy.password");
  applyNumber(text, "erroricon", &app.errorIcon);

  if (username && !username->empty()) app.username = unscrambleCredential(*username);
  if (password && !password->empty()) app.password = unscrambleCredential(*password);
  if (proxyUsername && !proxyUsername->empty())
    app.proxyUsername = unscrambleCredential(*proxyUsername);
  if (proxyPassword && !proxyPassword->empty())
    app.proxyPassword = unscrambleCredential(*proxyPassword);
}

}  // namespace corvex
