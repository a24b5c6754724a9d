#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <thread>

namespace testsupport {

std::function<bool(const SendPart&)> repeatParts(std::string part, std::chrono::milliseconds pause,
                                                 std::chrono::seconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  return [part = std::move(part), pause, until](const SendPart& send) {
    std::this_thread::sleep_for(pause);
    return std::chrono::steady_clock::now() < until && send(part);
  };
}

struct HttpTestServer::Impl {
  httplib::Server server;
  int port = 0;
  std::thread thread;
  std::atomic<bool> finished{false};
  std::atomic<bool> stopping{false};  // ends streamed bodies
  mutable std::mutex mutex;
  std::vector<SeenRequest> seen;
  Handler handler;
};

HttpTestServer::HttpTestServer() : impl_(std::make_unique<Impl>()) {
  impl_->handler = [](const SeenRequest&) {
    TestResponse response;
    response.body = "<?xml version=\"1.0\"?><ok/>";
    return response;
  };
  auto serve = [this](const httplib::Request& req, httplib::Response& res) {
    SeenRequest request{req.method, req.target, req.body, {}, req.remote_port};
    for (const auto& [name, value] : req.headers) {
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (request.headers.count(lower)) {
        request.headers[lower] += ", " + value;
      } else {
        request.headers[lower] = value;
      }
    }
    Handler handler;
    {
      std::lock_guard<std::mutex> lock(impl_->mutex);
      impl_->seen.push_back(request);
      handler = impl_->handler;
    }
    const TestResponse response = handler(request);
    res.status = response.status;
    for (const auto& [name, value] : response.headers) res.set_header(name, value);
    if (!response.stream) {
      res.set_content(response.body, response.contentType);
      return;
    }
    res.set_chunked_content_provider(
        response.contentType, [this, stream = response.stream](size_t, httplib::DataSink& sink) {
          const SendPart send = [this, &sink](const std::string& bytes) {
            return !impl_->stopping && sink.write(bytes.data(), bytes.size());
          };
          if (!stream(send)) sink.done();
          return true;
        });
  };
  impl_->server.Get(".*", serve);
  impl_->server.Put(".*", serve);
  impl_->server.Post(".*", serve);
  // Bound before the thread starts, so connections queue until it listens.
  impl_->port = impl_->server.bind_to_any_port("127.0.0.1");
  impl_->thread = std::thread([this] {
    if (impl_->port > 0) impl_->server.listen_after_bind();
    impl_->finished = true;
  });
}

HttpTestServer::~HttpTestServer() {
  impl_->stopping = true;
  // stop() only takes effect once the server loop runs.
  while (!impl_->server.is_running() && !impl_->finished) std::this_thread::yield();
  impl_->server.stop();
  impl_->thread.join();
}

unsigned short HttpTestServer::port() const { return static_cast<unsigned short>(impl_->port); }

void HttpTestServer::setHandler(Handler handler) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->handler = std::move(handler);
}

std::vector<SeenRequest> HttpTestServer::seen() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->seen;
}

SilentServer::SilentServer() {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return;
  listen(fd_, 16);  // the kernel completes the handshakes; nobody reads
  socklen_t len = sizeof addr;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
}

SilentServer::~SilentServer() {
  if (fd_ >= 0) close(fd_);
}

}  // namespace testsupport
