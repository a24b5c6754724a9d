// The HTTP transport: the request URL, the proxy the client goes through, and
// the download and upload of a list. Every step is logged under the
// application's name; every failure comes back as the text the host shows.
//
// Three requests exist, all on the configured server and port with the
// account in the query: "get" (GET, the answer's body is the server's list),
// "put" (PUT, the body is the list to store) and "remove" (PUT without a body,
// clearing the stored list; always followed by a "put").
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "platform/http_client.h"

namespace corvex {

class ClientApp;

enum class RequestKind { Get = 0, Put = 1, Remove = 2 };

inline constexpr char kUserAgent[] = "Mozilla/2.0 (compatible; MSIE 3.0; AK; Windows NT)";
inline constexpr uint32_t kRequestFlags =
    platform::kInternetFlagExistingConnect | platform::kInternetFlagNoAutoRedirect;
inline constexpr size_t kReadChunk = 1024;
// A download larger than this fails as a network error.
inline constexpr uint64_t kMaxDownloadBytes = 64ull << 20;
// Every request: connecting may take 60 s, at least 1024 bytes must move in
// every 60 s, and the whole exchange must end within 10 minutes, so that a
// service that trickles its answer cannot hold the run, the browser's thread
// and the run mutex. QUORVANE_NET_TIMEOUT_MS shortens them for tests
// (platform/http_client.h).
inline constexpr platform::HttpLimits kRequestLimits{60000, 1024, 60000, 600000};

inline constexpr char kSessionFailed[] = "Can not create Internet session.";
inline constexpr char kDownloadBadUrl[] = "Can't connect. Requested url is bad.";
inline constexpr char kDownloadFailed[] = "Can't connect. Please check proxy and connection settings.";
inline constexpr char kDownloadNotXml[] = "Downloading has been failed. Maybe username and password are incorrect?";
inline constexpr char kUploadBadUrl[] = "Can't put the data. Put url is bad.";
inline constexpr char kUploadFailed[] = "Can't put the data. Please check proxy and connection settings.";
// A conditional "put" the service refused (409) because it no longer holds
// the version the list was built from; the procedure downloads again.
inline constexpr char kUploadConflict[] = "The list on the service has changed since it was downloaded.";

// The request URL: "http://" host ":" port path "?" query, the query being
// the server's own parameters, then "user", "pass", "function" and
// "timestamp": for Get the time stamp of the known server state
// (lastSyncTime, when not 0), for Put the version the list was built from
// (`basedOn`, when not empty). Values go in unescaped; libxml2's
// serialisation then escapes what is neither reserved nor unreserved. Empty
// when no usable URL can be formed.
std::string buildRequestUrl(const ClientApp& app, RequestKind kind, const std::string& basedOn = {});
// The same URL as the log shows it: the value of "pass" written as "***".
std::string requestUrlForLog(const ClientApp& app, RequestKind kind, const std::string& basedOn = {});

struct SystemProxy {
  bool found = false;
  std::string server;
  std::string bypass;
};
// The proxy the system configures for the URL: the manual proxy, or the
// automatic script's "PROXY host:port" answer.
SystemProxy findSystemProxy(const std::string& url);

// Evaluates the automatic proxy script (the given URL, else the detected one)
// for the request URL; the script's answer text, or nothing on any failure.
std::optional<std::string> autoProxyLookup(const std::optional<std::string>& scriptUrl,
                                           const std::string& requestUrl);

// A client for the URL: through the system's proxy when one is found, else
// with the preconfigured access. Null after logging "Can not create Internet
// session.\n".
std::unique_ptr<platform::HttpSession> openHttpClient(ClientApp& app, const std::string& url);

// Standard Base64 (A-Z, a-z, 0-9, "+", "/") with its "=" padding, without
// line breaks. Credentials sent without the padding are refused by proxies
// that compare the encoded text, whenever the length is not a multiple of 3.
std::string base64Encode(const std::string& bytes);
// "Proxy-Authorization: Basic " and the Base64 of proxyUsername ":" proxyPassword.
std::string proxyAuthorizationHeader(const ClientApp& app);

// Fetches the server's list. On success the error text is empty and *body
// holds the answer (it starts with "<?xml" and holds at most kMaxListItems
// items: engine/list_limit.h); otherwise *body is empty.
std::string downloadList(ClientApp& app, std::string* body);

// Stores the document on the server ("put"; for Remove, "remove" first).
// A "put" with `basedOn` is conditional: the service stores it only while
// it holds that version, and answers 409 otherwise, which gives
// kUploadConflict. Any other refused request (status outside 200-299) fails
// like a broken connection.
//
// On success *storedTime (when given) is the time stamp of the version the
// service stored, read from the answer to the "put": an XML answer ("<?xml"
// first) whose root carries "timestamp", as the reference service sends it.
// 0 when the answer names none (no body, a text, no readable time stamp).
std::string uploadList(ClientApp& app, const std::string& document, RequestKind kind,
                       const std::string& basedOn = {}, std::time_t* storedTime = nullptr);

}  // namespace corvex
