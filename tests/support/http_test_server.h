// A small HTTP server on a free loopback port, run on a thread of the test,
// that records every request it gets and answers through a handler the test
// may replace (default: 200 with a tiny XML body). For client behaviour that
// the reference service cannot show: redirects, odd bodies, huge bodies,
// bodies that trickle or never end.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

struct SeenRequest {
  std::string method;
  std::string target;  // path and query exactly as sent
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case
  int remotePort = 0;
};

// Sends part of a streamed body; false once the client is gone.
using SendPart = std::function<bool(const std::string& bytes)>;

struct TestResponse {
  int status = 200;
  std::string body;
  std::string contentType = "text/xml";
  std::map<std::string, std::string> headers;
  // When set, the body is streamed instead (chunked coding): the server calls
  // this again and again until it returns false (the body's end), the
  // client goes away or the server stops. It may sleep between parts: a
  // trickling or endless service.
  std::function<bool(const SendPart& send)> stream;
};

// A streamed body: the part again and again, each after a pause, until the
// client goes or `limit` has passed (a client that never gives up still
// sees the body end, and its test fails instead of hanging).
std::function<bool(const SendPart&)> repeatParts(std::string part, std::chrono::milliseconds pause,
                                                 std::chrono::seconds limit = std::chrono::seconds(20));

class HttpTestServer {
 public:
  using Handler = std::function<TestResponse(const SeenRequest&)>;

  HttpTestServer();
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  unsigned short port() const;
  void setHandler(Handler handler);
  std::vector<SeenRequest> seen() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Accepts connections and never answers (a service that stopped answering).
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;
  unsigned short port() const { return port_; }

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

}  // namespace testsupport
