// The system's proxy facilities: per-connection proxy options, automatic
// proxy detection (WPAD) and evaluation of an automatic proxy script.
//
// On Linux the per-connection options come from the environment, read on
// every query:
//   http_proxy (or HTTP_PROXY)   the manual proxy: flag kProxyTypeProxy and the
//                                proxy server "host:port" (a URL is cut down
//                                to its host and port; no port means 80)
//   no_proxy (or NO_PROXY)       the bypass list, entries joined by ";"
//   QUORVANE_PROXY_PAC_URL       the automatic configuration script URL: flag
//                                kProxyTypeAutoProxyUrl
//   QUORVANE_PROXY_AUTODETECT    "1": flag kProxyTypeAutoDetect
// With none of them the flags are kProxyTypeDirect alone. Every connection
// name sees the same options.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/export.h"

namespace platform {

// Per-connection proxy flags (PROXY_TYPE_*).
inline constexpr uint32_t kProxyTypeDirect = 0x01;
inline constexpr uint32_t kProxyTypeProxy = 0x02;
inline constexpr uint32_t kProxyTypeAutoProxyUrl = 0x04;
inline constexpr uint32_t kProxyTypeAutoDetect = 0x08;

struct ProxyOptions {
  uint32_t flags = kProxyTypeDirect;
  std::string proxyServer;
  std::string bypassList;
  std::string autoConfigUrl;
};

// The options of a connection (InternetQueryOption with
// INTERNET_OPTION_PER_CONNECTION_OPTION); an empty name means the LAN.
PLATFORM_API bool queryProxyOptions(const std::string& connectionName, ProxyOptions* options);

// The proxy server of a proxy text as the system writes it: "host:port",
// "http://host:port/", "http=host:port;ftp=...". The http entry wins, else the
// first plain entry; a missing port means 80. Empty when the text names none.
PLATFORM_API std::string proxyServerHostPort(const std::string& proxyText);

// True when the host is in the bypass list: entries separated by ";", "," or
// white space, compared ignoring case; "*" and "?" are wildcards, "<local>"
// matches host names without a dot, ".example.org" and "example.org" match
// that name and every name below it.
PLATFORM_API bool proxyBypassed(const std::string& bypassList, const std::string& host);

// Automatic proxy detection (DetectAutoProxyUrl): the script is
// "http://wpad/wpad.dat" when the host name "wpad" resolves; false otherwise.
PLATFORM_API bool detectAutoProxyUrl(std::string* url);

// An automatic proxy script evaluator (the system's automatic proxy library),
// backed by pacparser. One script is loaded at a time in the process.
class PLATFORM_API AutoProxyScript {
 public:
  AutoProxyScript() = default;
  ~AutoProxyScript();  // deinitializes when still initialized
  AutoProxyScript(const AutoProxyScript&) = delete;
  AutoProxyScript& operator=(const AutoProxyScript&) = delete;

  // Loads and runs the script file (InternetInitializeAutoProxyDll).
  bool initialize(const std::filesystem::path& scriptFile);
  // FindProxyForURL(url, host) (InternetGetProxyInfo): the answer text, cut
  // to capacity - 1 bytes as a caller's buffer of that size would hold it.
  bool findProxy(const std::string& url, const std::string& host, std::string* answer,
                 size_t capacity = 1024);
  // Releases the script (InternetDeInitializeAutoProxyDll); false when none
  // was loaded.
  bool deinitialize();

 private:
  bool initialized_ = false;
};

}  // namespace platform
