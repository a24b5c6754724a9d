// An HTTP client shaped like WinINet's: a session (user agent and proxy
// choice), a connection to one host and port, and requests on it with a
// method, an object (path and query) and flags; over libcurl.
//
// A request is performed when it is sent: send() (or beginSend / writeBody /
// endSend for a body written in parts) runs the whole exchange, and read()
// then hands out the response body in chunks. Operations that talk to the
// network return an error text, empty on success; the text is the failure's
// own description, at most 1024 characters, and the calling thread's last
// error is set to an ERROR_INTERNET_* code.
//
// Limits (HttpLimits), so that no service can hold a request as long as it
// likes: connecting may take at most connectMs; the request fails when fewer
// than lowSpeedBytes move, counting both directions, within any stretch of
// lowSpeedWindowMs (a trickle fails as a silence does); and it fails when
// the whole exchange, from connecting to the last byte of the response, has
// not ended within deadlineMs. A request ended by a limit fails with
// kInternetTimeout, an error text that names the limit, and limitHit()
// telling which one it was. The environment variable QUORVANE_NET_TIMEOUT_MS
// (tests), when set to a positive number T, makes the connect time-out and
// the low-speed window T and the deadline 10 * T for every request; the byte
// count stays.
//
// Objects are used by one thread at a time. A connection must outlive its
// requests and a session its connections.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/errors.h"
#include "platform/export.h"

namespace platform {

// Request flags (INTERNET_FLAG_*).
inline constexpr uint32_t kInternetFlagExistingConnect = 0x20000000;  // reuse the connection
inline constexpr uint32_t kInternetFlagNoAutoRedirect = 0x00200000;   // do not follow 3xx

// Header flags (HTTP_ADDREQ_FLAG_*).
inline constexpr uint32_t kHttpAddReqFlagAddIfNew = 0x10000000;
inline constexpr uint32_t kHttpAddReqFlagAdd = 0x20000000;
inline constexpr uint32_t kHttpAddReqFlagReplace = 0x80000000;

// Error codes (ERROR_INTERNET_*, ERROR_HTTP_*).
inline constexpr Status kInternetTimeout = 12002;
inline constexpr Status kInternetExtendedError = 12003;
inline constexpr Status kInternetInvalidUrl = 12005;
inline constexpr Status kInternetNameNotResolved = 12007;
inline constexpr Status kInternetIncorrectHandleState = 12019;
inline constexpr Status kInternetCannotConnect = 12029;
inline constexpr Status kInternetConnectionAborted = 12030;
inline constexpr Status kInternetConnectionReset = 12031;
inline constexpr Status kHttpHeaderAlreadyExists = 12155;

// Maximum length of an error text.
inline constexpr size_t kInternetErrorTextMax = 1024;

// A zero turns the low-speed limit or the deadline off.
struct HttpLimits {
  unsigned connectMs = 60000;
  unsigned lowSpeedBytes = 1024;
  unsigned lowSpeedWindowMs = 60000;
  unsigned deadlineMs = 600000;
};

// The limit that ended a request.
enum class HttpLimit {
  None,
  Connect,       // connecting took longer than connectMs
  LowSpeed,      // fewer than lowSpeedBytes moved in lowSpeedWindowMs
  Deadline,      // the exchange did not end within deadlineMs
  ResponseSize,  // the response body was longer than setMaxResponseBytes allows
};

// How a session reaches the network (INTERNET_OPEN_TYPE_*).
enum class InternetAccess {
  Preconfigured,  // the system's settings: the manual proxy of the LAN, if any
  Direct,         // no proxy
  Proxy,          // the session's own proxy server and bypass list
};

// A URL split as AfxParseURL splits it. object is the path and query ("/"
// when the URL has none); port is the scheme's default when none is given.
struct UrlParts {
  std::string scheme;  // lower case
  bool isHttp = false;  // the scheme is "http"
  std::string host;
  uint16_t port = 0;
  std::string object;
};
// False for a text that is not an absolute URL with a host.
PLATFORM_API bool parseUrl(const std::string& url, UrlParts* parts);

class PLATFORM_API HttpSession {
 public:
  // proxyServer and proxyBypass are used with InternetAccess::Proxy only:
  // proxy texts as the system writes them ("host:port", "http=host:port ...";
  // a server without a port means port 80), bypass entries separated by ";",
  // "," or white space (platform/proxy.h, proxyBypassed).
  HttpSession(const std::string& userAgent, InternetAccess access,
              const std::string& proxyServer = {}, const std::string& proxyBypass = {});
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  void setLimits(const HttpLimits& limits);

  const std::string& userAgent() const { return userAgent_; }
  InternetAccess access() const { return access_; }

  // The proxy URL ("http://host:port") a request to the host goes through,
  // or the empty text for a direct request.
  std::string proxyFor(const std::string& host) const;
  // The limits every request of the session gets: the session's own, as
  // QUORVANE_NET_TIMEOUT_MS changes them.
  HttpLimits limits() const;

 private:
  std::string userAgent_;
  InternetAccess access_;
  std::string proxyServer_;
  std::string proxyBypass_;
  HttpLimits limits_;
};

class PLATFORM_API HttpConnection {
 public:
  HttpConnection(HttpSession& session, const std::string& host, uint16_t port);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  HttpSession& session() const { return session_; }
  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }

 private:
  friend class HttpRequest;
  struct Shared;
  HttpSession& session_;
  std::string host_;
  uint16_t port_;
  std::shared_ptr<Shared> shared_;  // the connection cache requests share
};

class PLATFORM_API HttpRequest {
 public:
  // Opens a request (HttpOpenRequest); valid() tells whether one resulted.
  HttpRequest(HttpConnection& connection, const std::string& method, const std::string& object,
              uint32_t flags);
  ~HttpRequest();
  HttpRequest(const HttpRequest&) = delete;
  HttpRequest& operator=(const HttpRequest&) = delete;

  bool valid() const;

  // Adds header lines "Name: value" (several separated by CR LF). With
  // kHttpAddReqFlagAddIfNew a header whose name the request holds already is
  // not added, and the result is false (last error kHttpHeaderAlreadyExists).
  bool addHeaders(const std::string& headers, uint32_t flags);

  // A response body longer than this fails the exchange; nothing is kept of
  // it. Unbounded by default.
  void setMaxResponseBytes(uint64_t bytes);

  // Sends the request with the body (none when empty) and reads the response.
  std::string send(const std::string& body = {});
  // The same in parts: announce the body length, write the body, end.
  std::string beginSend(uint64_t bodyLength);
  std::string writeBody(const std::string& data);
  std::string endSend();

  // The response's status code (0 before a response).
  unsigned statusCode() const;
  // The limit that ended the last exchange; None when it ended otherwise.
  HttpLimit limitHit() const;
  // Copies up to size bytes of the response body; 0 at its end.
  size_t read(char* buffer, size_t size);

  void close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Downloads the URL (http, https or file) into the file, replacing its
// contents (URLDownloadToFile), within the default HttpLimits. Returns the
// error text, empty on success.
PLATFORM_API std::string downloadUrlToFile(const std::string& url,
                                           const std::filesystem::path& path);

}  // namespace platform
