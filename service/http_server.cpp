// The only translation unit that includes httplib.h (it is slow to compile).
#include "service/http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <cstring>
#include <thread>

#include "service/documents.h"
#include "service/signup_page.h"

namespace service {
namespace {

using Clock = std::chrono::steady_clock;

// Poll in short slices so that a stopping server is noticed quickly.
constexpr auto kSlice = std::chrono::milliseconds(100);
// Bytes of chunk framing allowed on top of the largest body.
constexpr std::size_t kBodySlack = 1u << 20;
constexpr std::size_t kMaxRequestsPerConnection = 100;

// A socket stream with the service's limits. One per connection; the
// limits restart with every request (beginRequest).
//
// The header budget counts the bytes handed to the HTTP parser from the
// start of a request up to the blank line that ends its headers; the body
// budget counts the bytes after it. Either overrun, a time-out or a stopping
// server ends the connection: every later read fails.
class BoundedStream final : public httplib::Stream {
 public:
  BoundedStream(int fd, std::chrono::seconds ioTimeout, std::size_t maxBodyBytes,
                const std::atomic<bool>& stopping)
      : fd_(fd), ioTimeout_(ioTimeout), maxBodyBytes_(maxBodyBytes), stopping_(stopping) {}

  void beginRequest(Clock::time_point deadline) {
    deadline_ = deadline;
    started_ = Clock::now();
    inHeaders_ = true;
    headerBytes_ = 0;
    bodyBytes_ = 0;
    last_ = prev_ = 0;
    closeAfter_ = false;
  }

  // Waits up to `timeout` for the first byte of another request.
  bool waitForRequest(std::chrono::seconds timeout) {
    if (broken_) return false;
    if (begin_ < end_) return true;
    deadline_ = Clock::now() + timeout;
    return waitFor(POLLIN);
  }

  bool broken() const { return broken_; }
  bool closeRequested() const { return closeAfter_; }
  void closeAfterResponse() { closeAfter_ = true; }
  Clock::time_point started() const { return started_; }

  bool is_readable() const override {
    return begin_ < end_ || const_cast<BoundedStream*>(this)->waitFor(POLLIN);
  }
  bool is_writable() const override { return const_cast<BoundedStream*>(this)->waitFor(POLLOUT); }

  ssize_t read(char* ptr, size_t size) override {
    if (broken_) return -1;
    if (begin_ == end_) {
      if (!waitFor(POLLIN)) return fail();
      ssize_t n;
      do {
        n = ::recv(fd_, buffer_, sizeof buffer_, 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n == 0 ? 0 : fail();
      begin_ = 0;
      end_ = static_cast<std::size_t>(n);
    }
    std::size_t n = std::min(size, end_ - begin_);
    if (inHeaders_) {
      // Hand out bytes up to the end of the headers at most, so that the
      // body is counted against its own budget.
      std::size_t i = 0;
      while (i < n && inHeaders_) {
        char c = buffer_[begin_ + i++];
        if (++headerBytes_ > kMaxHeaderBytes) return fail();
        if (c == '\n' && (last_ == '\n' || (last_ == '\r' && prev_ == '\n'))) inHeaders_ = false;
        prev_ = last_;
        last_ = c;
      }
      n = i;
    } else if ((bodyBytes_ += n) > maxBodyBytes_ + kBodySlack) {
      return fail();
    }
    std::memcpy(ptr, buffer_ + begin_, n);
    begin_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!waitFor(POLLOUT)) return -1;
    ssize_t n;
    do {
      n = ::send(fd_, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      describe(address, ip, port);
    }
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      describe(address, ip, port);
    }
  }
  socket_t socket() const override { return fd_; }

 private:
  static void describe(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
      const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
      inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
      port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
      const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
      inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
      port = ntohs(v6.sin6_port);
    }
    ip = text;
  }

  ssize_t fail() {
    broken_ = true;
    return -1;
  }

  // Waits until the socket is ready for `events`, at most the I/O time-out
  // and never past the request's deadline.
  bool waitFor(short events) {
    Clock::time_point limit = std::min(deadline_, Clock::now() + ioTimeout_);
    for (;;) {
      if (stopping_.load(std::memory_order_relaxed)) return false;
      auto left = limit - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      auto wait = std::min<Clock::duration>(left, kSlice);
      pollfd p{fd_, events, 0};
      int rc = ::poll(&p, 1,
                      static_cast<int>(
                          std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1));
      if (rc > 0) return (p.revents & (events | POLLHUP | POLLERR)) != 0;
      if (rc < 0 && errno != EINTR) return false;
    }
  }

  int fd_;
  std::chrono::seconds ioTimeout_;
  std::size_t maxBodyBytes_;
  const std::atomic<bool>& stopping_;
  Clock::time_point deadline_ = Clock::now();
  Clock::time_point started_ = Clock::now();
  bool inHeaders_ = true;
  std::size_t headerBytes_ = 0;
  std::size_t bodyBytes_ = 0;
  char last_ = 0;
  char prev_ = 0;
  bool broken_ = false;
  bool closeAfter_ = false;
  char buffer_[16384];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// The connection being served on this thread (each connection is served
// start to end by one worker thread).
thread_local BoundedStream* tConnection = nullptr;

class BoundedHttpServer final : public httplib::Server {
 public:
  BoundedHttpServer(const ServerOptions& options, const std::atomic<bool>& stopping)
      : options_(options), stopping_(stopping) {}

 private:
  bool process_and_close_socket(socket_t sock) override {
    // Answers are written as headers and body apart; with Nagle's algorithm a
    // short body would wait for the client's delayed acknowledgement.
    int on = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bool ok = false;
    {
      BoundedStream stream(sock, options_.ioTimeout, options_.maxBodyBytes, stopping_);
      tConnection = &stream;
      for (std::size_t count = 1; count <= kMaxRequestsPerConnection; ++count) {
        if (svr_sock_ == INVALID_SOCKET || !stream.waitForRequest(options_.keepAliveTimeout)) break;
        stream.beginRequest(Clock::now() + options_.requestTimeout);
        bool closed = false;
        ok = process_request(stream, count == kMaxRequestsPerConnection, closed, nullptr);
        if (!ok || closed || stream.broken() || stream.closeRequested()) break;
      }
      tConnection = nullptr;
    }
    lingeringClose(sock);
    return ok;
  }

  // Closing a socket with unread input makes the kernel send a reset, which
  // can destroy the answer before the client reads it (a 413 for a body
  // still on its way): stop sending, drain briefly, then close.
  static void lingeringClose(int fd) {
    ::shutdown(fd, SHUT_WR);
    auto until = Clock::now() + std::chrono::seconds(1);
    std::size_t drained = 0;
    char sink[16384];
    while (drained < (4u << 20) && Clock::now() < until) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) break;
      ssize_t n = ::recv(fd, sink, sizeof sink, 0);
      if (n <= 0) break;
      drained += static_cast<std::size_t>(n);
    }
    ::close(fd);
  }

  const ServerOptions& options_;
  const std::atomic<bool>& stopping_;
};

std::string regexEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) out += '\\';
    out += c;
  }
  return out;
}

// Content-Length as a number, or none when absent or unreadable.
std::optional<std::uint64_t> contentLength(const httplib::Request& req) {
  if (!req.has_header("Content-Length")) return std::nullopt;
  std::string text = req.get_header_value("Content-Length");
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool hasBody(const httplib::Request& req) {
  auto length = contentLength(req);
  return (length && *length > 0) || req.has_header("Transfer-Encoding") ||
         (req.has_header("Content-Length") && !length);
}

// A text for the log, with bytes that could disturb a log line written as
// \xNN, and cut at 200 bytes.
std::string printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f || c == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out.size() > 200 ? out.substr(0, 200) + "..." : out;
}

// The path for the log: never the query, which holds the password.
std::string loggedPath(const std::string& target) {
  return printable(target.substr(0, target.find('?')));
}

}  // namespace

struct Server::Impl {
  Impl(Storage& storage, PasswordChecker& passwords, ServerOptions opts)
      : options(std::move(opts)),
        context{storage,
                passwords,
                options.dataPath,
                options.now,
                options.maxBodyBytes,
                options.maxListItems},
        http(options, stopping) {}

  void answer(const httplib::Request& req, httplib::Response& res, std::string body) {
    HttpResponse out = handleRequest(context, HttpRequest{req.method, req.target, std::move(body)});
    res.status = out.status;
    res.set_content(std::move(out.body), out.contentType.c_str());
  }

  void answerWithBody(const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader) {
    auto length = contentLength(req);
    if (length && *length > options.maxBodyBytes) {
      tooLarge(res);
      return;
    }
    std::string body;
    // Without Content-Length and Transfer-Encoding an HTTP/1.1 request has
    // no body (httplib would read until the client closes).
    if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding")) {
      answer(req, res, std::move(body));
      return;
    }
    bool over = false;
    bool complete = reader([&](const char* data, size_t size) {
      if (body.size() + size > options.maxBodyBytes) {
        over = true;
        return false;
      }
      body.append(data, size);
      return true;
    });
    if (over) {
      tooLarge(res);
      return;
    }
    if (!complete) {
      res.status = 400;
      res.set_content("The body did not arrive complete.\n", "text/plain; charset=utf-8");
      if (tConnection) tConnection->closeAfterResponse();
      return;
    }
    answer(req, res, std::move(body));
  }

  void tooLarge(httplib::Response& res) const {
    HttpResponse out = bodyTooLarge(options.maxBodyBytes);
    res.status = out.status;
    res.set_content(std::move(out.body), out.contentType.c_str());
    if (tConnection) tConnection->closeAfterResponse();
  }

  void logRequest(const httplib::Request& req, const httplib::Response& res) {
    if (!options.log) return;
    double ms = 0;
    std::string remote = req.remote_addr;
    if (tConnection) {
      // A request refused while its headers were read has no address yet.
      int remotePort = 0;
      if (remote.empty()) tConnection->get_remote_ip_and_port(remote, remotePort);
      ms = std::chrono::duration<double, std::milli>(Clock::now() - tConnection->started()).count();
    }
    char tail[96];
    std::snprintf(tail, sizeof tail, " %d %zu %.1fms", res.status, res.body.size(), ms);
    options.log(remote + " " + printable(req.method) + " " + loggedPath(req.target) + tail);
  }

  ServerOptions options;
  ServiceContext context;
  std::atomic<bool> stopping{false};
  BoundedHttpServer http;
  std::thread listener;
  std::atomic<bool> listenerDone{false};
  int port = 0;
  bool started = false;
};

Server::Server(Storage& storage, PasswordChecker& passwords, ServerOptions options)
    : impl_(std::make_unique<Impl>(storage, passwords, std::move(options))) {}

Server::~Server() { stop(); }

std::string Server::start() {
  Impl& s = *impl_;
  if (s.started) return "the server is already running";
  initXml();
  int threads = std::max(1, s.options.threads);
  s.http.new_task_queue = [threads] {
    return new httplib::ThreadPool(static_cast<size_t>(threads));
  };
  s.http.set_payload_max_length(s.options.maxBodyBytes);
  s.http.set_read_timeout(s.options.ioTimeout.count());
  s.http.set_write_timeout(s.options.ioTimeout.count());
  s.http.set_keep_alive_timeout(s.options.keepAliveTimeout.count());

  // Requests without a body are answered before routing; this way no path
  // goes through a regular expression (std::regex recurses per character).
  s.http.set_pre_routing_handler([&s](const httplib::Request& req, httplib::Response& res) {
    bool bodyMethod = req.method == "PUT" || req.method == "POST";
    bool bodyPath = req.path == s.options.dataPath || req.path == kSignupPath;
    if (bodyMethod && bodyPath) return httplib::Server::HandlerResponse::Unhandled;
    // The body of such a request is never read: the connection cannot carry
    // another request after it.
    if (hasBody(req) && tConnection) tConnection->closeAfterResponse();
    s.answer(req, res, {});
    return httplib::Server::HandlerResponse::Handled;
  });
  auto withBody = [&s](const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) {
    s.answerWithBody(req, res, reader);
  };
  for (const std::string& path : {s.options.dataPath, std::string(kSignupPath)}) {
    s.http.Put(regexEscape(path), withBody);
    s.http.Post(regexEscape(path), withBody);
  }
  s.http.set_expect_100_continue_handler([&s](const httplib::Request& req, httplib::Response& res) {
    auto length = contentLength(req);
    if (length && *length > s.options.maxBodyBytes) {
      s.tooLarge(res);
      return 413;
    }
    return 100;
  });
  s.http.set_logger(
      [&s](const httplib::Request& req, const httplib::Response& res) { s.logRequest(req, res); });

  if (s.options.port == 0) {
    s.port = s.http.bind_to_any_port(s.options.host);
    if (s.port <= 0) return "cannot listen on " + s.options.host + ": " + std::strerror(errno);
  } else {
    if (!s.http.bind_to_port(s.options.host, s.options.port)) {
      return "cannot listen on " + s.options.host + ":" + std::to_string(s.options.port) + ": " +
             std::strerror(errno);
    }
    s.port = s.options.port;
  }
  s.listener = std::thread([&s] {
    s.http.listen_after_bind();
    s.listenerDone = true;
  });
  s.started = true;
  // httplib's stop() does nothing until the accept loop runs.
  while (!s.http.is_running() && !s.listenerDone)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return {};
}

int Server::port() const { return impl_->port; }

void Server::stop() {
  Impl& s = *impl_;
  if (!s.started) return;
  s.stopping = true;
  s.http.stop();
  if (s.listener.joinable()) s.listener.join();
  s.started = false;
}

}  // namespace service
