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

// The largest request body accepted (larger ones get 413).
inline constexpr std::size_t kMaxBodyBytes = 16u << 20;

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
};

HttpResponse handleRequest(ServiceContext& context, const HttpRequest& request);

}  // namespace service
