// The HTTP front of the service: cpp-httplib with bounded connections in
// front of handleRequest.
//
// Limits per request: the request line and headers together at most
// kMaxHeaderBytes, the body at most ServerOptions::maxBodyBytes (413 beyond), every read
// and write waits at most the I/O time-out, and the whole request (headers
// and body) must arrive within the request time-out. A connection serves
// several requests (keep-alive) while it stays busy.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "service/handler.h"

namespace service {

inline constexpr std::size_t kMaxHeaderBytes = 64u << 10;

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port (see Server::port())
  std::string dataPath = "/data";
  int threads = 32;  // requests served at once
  std::chrono::seconds ioTimeout{10};
  std::chrono::seconds requestTimeout{60};
  std::chrono::seconds keepAliveTimeout{5};
  // One line per request (method, path without the query, status, bytes,
  // duration); null: no request log.
  std::function<void(const std::string& line)> log;
  std::function<std::int64_t()> now;                 // null: the system clock
  std::size_t maxBodyBytes = kDefaultMaxBodyBytes;   // larger bodies get 413
  std::int64_t maxListItems = kDefaultMaxListItems;  // longer lists get 413
};

class Server {
 public:
  Server(Storage& storage, PasswordChecker& passwords, ServerOptions options);
  ~Server();  // stops
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts serving on a thread of its own. Returns an error text,
  // empty on success.
  std::string start();
  // The bound port (after a successful start).
  int port() const;
  // Stops accepting, lets running requests end, joins the threads.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace service
