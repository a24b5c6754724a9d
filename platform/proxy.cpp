#include "platform/proxy.h"

#include <netdb.h>
#include <pacparser.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {
namespace {

std::string envValue(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if ((!value || !*value) && upper) value = std::getenv(upper);
  return value ? value : "";
}

std::string toLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::vector<std::string> splitList(const std::string& text, const char* separators) {
  std::vector<std::string> items;
  std::string current;
  for (char c : text) {
    if (std::strchr(separators, c) || std::isspace(static_cast<unsigned char>(c))) {
      if (!current.empty()) items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) items.push_back(current);
  return items;
}

// "*" matches any run of characters, "?" any one character.
bool wildcardMatch(const char* pattern, const char* text) {
  if (!*pattern) return !*text;
  if (*pattern == '*') {
    for (const char* t = text;; ++t) {
      if (wildcardMatch(pattern + 1, t)) return true;
      if (!*t) return false;
    }
  }
  if (!*text) return false;
  if (*pattern != '?' && *pattern != *text) return false;
  return wildcardMatch(pattern + 1, text + 1);
}

// Pacparser complains on stderr unless told otherwise; its complaints are of
// no use to the caller, who gets a false result.
int quietPrinter(const char*, va_list) { return 0; }

}  // namespace

bool queryProxyOptions(const std::string& /*connectionName*/, ProxyOptions* options) {
  ProxyOptions result;
  result.flags = kProxyTypeDirect;
  const std::string manual = proxyServerHostPort(envValue("http_proxy", "HTTP_PROXY"));
  if (!manual.empty()) {
    result.flags |= kProxyTypeProxy;
    result.proxyServer = manual;
    std::string bypass;
    for (const std::string& entry : splitList(envValue("no_proxy", "NO_PROXY"), ",;")) {
      if (!bypass.empty()) bypass += ';';
      bypass += entry;
    }
    result.bypassList = bypass;
  }
  const std::string pac = envValue("QUORVANE_PROXY_PAC_URL", nullptr);
  if (!pac.empty()) {
    result.flags |= kProxyTypeAutoProxyUrl;
    result.autoConfigUrl = pac;
  }
  if (envValue("QUORVANE_PROXY_AUTODETECT", nullptr) == "1") result.flags |= kProxyTypeAutoDetect;
  *options = result;
  return true;
}

std::string proxyServerHostPort(const std::string& proxyText) {
  std::string chosen;
  for (const std::string& entry : splitList(proxyText, ";")) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) {
      if (chosen.empty()) chosen = entry;
    } else if (toLower(entry.substr(0, equals)) == "http") {
      chosen = entry.substr(equals + 1);
      break;
    }
  }
  if (const size_t scheme = chosen.find("://"); scheme != std::string::npos) {
    chosen.erase(0, scheme + 3);
  }
  if (const size_t slash = chosen.find('/'); slash != std::string::npos) chosen.resize(slash);
  if (const size_t at = chosen.rfind('@'); at != std::string::npos) chosen.erase(0, at + 1);
  if (chosen.empty()) return "";
  // libcurl would take 1080 for a proxy without a port; the system takes 80.
  const size_t colon = chosen.rfind(':');
  const size_t bracket = chosen.rfind(']');
  const bool hasPort = colon != std::string::npos &&
                       (bracket == std::string::npos || colon > bracket) &&
                       colon + 1 < chosen.size();
  if (!hasPort) {
    if (colon != std::string::npos && colon + 1 == chosen.size()) chosen.pop_back();
    chosen += ":80";
  }
  return chosen;
}

bool proxyBypassed(const std::string& bypassList, const std::string& host) {
  const std::string name = toLower(host);
  for (std::string entry : splitList(bypassList, ",;")) {
    entry = toLower(entry);
    if (entry == "<local>") {
      if (name.find('.') == std::string::npos) return true;
      continue;
    }
    if (entry.find_first_of("*?") != std::string::npos) {
      if (wildcardMatch(entry.c_str(), name.c_str())) return true;
      continue;
    }
    if (entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (name == entry) return true;
    if (name.size() > entry.size() && name.compare(name.size() - entry.size(), entry.size(), entry) == 0 &&
        name[name.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

bool detectAutoProxyUrl(std::string* url) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo("wpad", "80", &hints, &found) != 0 || !found) return false;
  freeaddrinfo(found);
  *url = "http://wpad/wpad.dat";
  return true;
}

AutoProxyScript::~AutoProxyScript() {
  if (initialized_) deinitialize();
}

bool AutoProxyScript::initialize(const std::filesystem::path& scriptFile) {
  if (initialized_) deinitialize();
  pacparser_set_error_printer(quietPrinter);
  if (!pacparser_init()) return false;
  if (!pacparser_parse_pac_file(scriptFile.c_str())) {
    pacparser_cleanup();
    return false;
  }
  initialized_ = true;
  return true;
}

bool AutoProxyScript::findProxy(const std::string& url, const std::string& host,
                                std::string* answer, size_t capacity) {
  if (!initialized_) return false;
  // The returned text belongs to the script engine and lives until cleanup.
  const char* result = pacparser_find_proxy(url.c_str(), host.c_str());
  if (!result) return false;
  std::string text = result;
  if (capacity == 0) return false;
  if (text.size() > capacity - 1) text.resize(capacity - 1);
  *answer = text;
  return true;
}

bool AutoProxyScript::deinitialize() {
  if (!initialized_) return false;
  pacparser_cleanup();
  initialized_ = false;
  return true;
}

}  // namespace platform
