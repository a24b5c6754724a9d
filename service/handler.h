// The service's answer to one request, as a function of the request and the
// storage: no sockets, no clock of its own. The HTTP server and the fuzzing
// targets call it with whatever bytes arrived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "service/passwords.h"
#include "service/storage.h"

namespace service {

// The largest request body accepted by default (larger ones get 413).
inline constexpr std::size_t kDefaultMaxBodyBytes = 64u << 20;
// The most items (folders, bookmarks and separators at every depth) a
// stored list may have (more get 413).
inline constexpr std::int64_t kDefaultMaxListItems = 300000;

struct HttpRequest {
  std::string method;  // "GET", "PUT", "POST", ...
  std::string target;  // path and query exactly as sent, e.g. "/data?user=a&pass=b&function=get"
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
};

struct ServiceContext {
  Storage& storage;
  PasswordChecker& passwords;
  std::string dataPath = "/data";     // the path of the bookmark protocol
  std::function<std::int64_t()> now;  // seconds since the epoch; null: the system clock
  std::size_t maxBodyBytes = kDefaultMaxBodyBytes;
  std::int64_t maxListItems = kDefaultMaxListItems;
};

HttpResponse handleRequest(ServiceContext& context, const HttpRequest& request);

// The 413 answer to a body over `limit` bytes.
HttpResponse bodyTooLarge(std::size_t limit);

}  // namespace service
