#include "platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <vector>

#include "platform/last_error.h"
#include "platform/proxy.h"

namespace platform {
namespace {

struct CurlDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct CurlShareDeleter {
  void operator()(CURLSH* handle) const { curl_share_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlPtr = std::unique_ptr<CURL, CurlDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;

void ensureCurlInitialized() {
  static const bool initialized = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)initialized;
}

std::string toLower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// QUORVANE_NET_TIMEOUT_MS, or 0 when unset or not a positive number.
unsigned timeoutOverride() {
  const char* value = std::getenv("QUORVANE_NET_TIMEOUT_MS");
  if (!value || !*value) return 0;
  char* end = nullptr;
  const unsigned long ms = std::strtoul(value, &end, 10);
  if (*end || ms == 0 || ms > 86400000UL) return 0;
  return static_cast<unsigned>(ms);
}

HttpLimits effectiveLimits(HttpLimits limits) {
  if (const unsigned forced = timeoutOverride()) {
    limits.connectMs = forced;
    limits.lowSpeedWindowMs = forced;
    limits.deadlineMs = 10 * forced;
  }
  return limits;
}

// Watches one transfer from libcurl's progress callback, which runs at least
// once a second and after every block moved. libcurl's own low-speed option
// cannot serve: it measures bytes per second averaged over a few seconds, in
// whole seconds, so "1024 bytes in 60 s" and a window under a second have no
// form in it. The deadline is kept here too, so that the cause is known:
// libcurl's own time-out keeps its own clock and was seen to end a transfer
// a few milliseconds before steady_clock reached the deadline, so it is set
// a second later, only in case no callback comes.
class TransferWatch {
 public:
  explicit TransferWatch(const HttpLimits& limits)
      : limits_(limits), started_(std::chrono::steady_clock::now()) {
    samples_.push_back({started_, 0});
  }

  // False once a limit is passed; cause() then names it.
  bool proceed(uint64_t moved) {
    const auto now = std::chrono::steady_clock::now();
    if (limits_.deadlineMs && now - started_ >= std::chrono::milliseconds(limits_.deadlineMs)) {
      hit_ = HttpLimit::Deadline;
      return false;
    }
    if (!limits_.lowSpeedBytes || !limits_.lowSpeedWindowMs) return true;
    // Samples at least an eighth of the window apart (a handful at any
    // time); the oldest is the last one taken a whole window ago or earlier,
    // so the bytes counted span at least the window.
    const std::chrono::milliseconds window(limits_.lowSpeedWindowMs);
    if (moved < samples_.back().moved) samples_.clear();  // the body is sent again from its start
    if (samples_.empty() || now - samples_.back().at >= window / 8) samples_.push_back({now, moved});
    while (samples_.size() > 1 && now - samples_[1].at >= window) samples_.pop_front();
    if (now - samples_.front().at >= window && moved - samples_.front().moved < limits_.lowSpeedBytes) {
      hit_ = HttpLimit::LowSpeed;
      return false;
    }
    return true;
  }

  // Why libcurl ended the transfer with the result, as far as a limit did.
  HttpLimit cause(CURLcode result) const {
    if (hit_ != HttpLimit::None) return hit_;
    if (result != CURLE_OPERATION_TIMEDOUT) return HttpLimit::None;
    const auto elapsed = std::chrono::steady_clock::now() - started_;
    if (limits_.deadlineMs && elapsed >= std::chrono::milliseconds(limits_.deadlineMs)) {
      return HttpLimit::Deadline;
    }
    return HttpLimit::Connect;
  }

  // The text of a failure that a limit caused.
  std::string text(HttpLimit limit) const {
    switch (limit) {
      case HttpLimit::LowSpeed:
        return "The operation timed out: fewer than " + std::to_string(limits_.lowSpeedBytes) +
               " bytes moved in " + std::to_string(limits_.lowSpeedWindowMs) + " ms.";
      case HttpLimit::Deadline:
        return "The operation timed out: the transfer did not end within " +
               std::to_string(limits_.deadlineMs) + " ms.";
      default:
        return "";
    }
  }

  static int onProgress(void* self, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
    auto* watch = static_cast<TransferWatch*>(self);
    return watch->proceed(static_cast<uint64_t>(downloaded + uploaded)) ? 0 : 1;
  }

  // Sets the limits on the handle; the watch must outlive the transfer.
  void install(CURL* h) {
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits_.connectMs));
    const long backstop = limits_.deadlineMs ? static_cast<long>(limits_.deadlineMs) + 1000 : 0;
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, backstop);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &TransferWatch::onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, this);
  }

 private:
  struct Sample {
    std::chrono::steady_clock::time_point at;
    uint64_t moved;
  };
  HttpLimits limits_;
  std::chrono::steady_clock::time_point started_;
  std::deque<Sample> samples_;
  HttpLimit hit_ = HttpLimit::None;
};

// Fails with the text, cut to the longest error text there is, and sets the
// thread's last error to the code.
std::string failure(Status code, std::string text) {
  if (text.size() > kInternetErrorTextMax) text.resize(kInternetErrorTextMax);
  setLastError(code);
  return text;
}

Status codeForCurl(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kInternetNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kInternetCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kInternetTimeout;
    case CURLE_URL_MALFORMAT:
      return kInternetInvalidUrl;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
      return kInternetConnectionReset;
    case CURLE_SEND_ERROR:
      return kInternetConnectionAborted;
    default:
      return kInternetExtendedError;
  }
}

}  // namespace

bool parseUrl(const std::string& url, UrlParts* parts) {
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos || schemeEnd == 0) return false;
  UrlParts result;
  result.scheme = toLower(url.substr(0, schemeEnd));
  for (char c : result.scheme) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  const size_t authorityStart = schemeEnd + 3;
  size_t authorityEnd = url.find_first_of("/?#", authorityStart);
  if (authorityEnd == std::string::npos) authorityEnd = url.size();
  std::string authority = url.substr(authorityStart, authorityEnd - authorityStart);
  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  std::string portText;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos) return false;
    result.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return false;
      portText = authority.substr(close + 2);
    }
  } else if (const size_t colon = authority.rfind(':'); colon != std::string::npos) {
    result.host = authority.substr(0, colon);
    portText = authority.substr(colon + 1);
  } else {
    result.host = authority;
  }
  if (result.host.empty()) return false;
  result.isHttp = result.scheme == "http";
  if (portText.empty()) {
    result.port = result.scheme == "https" ? 443 : result.scheme == "ftp" ? 21 : 80;
  } else {
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long port = std::stoul(portText);
    if (port == 0 || port > 65535) return false;
    result.port = static_cast<uint16_t>(port);
  }
  std::string object = url.substr(authorityEnd);
  if (const size_t hash = object.find('#'); hash != std::string::npos) object.resize(hash);
  if (object.empty() || object.front() != '/') object.insert(0, "/");
  result.object = object;
  *parts = result;
  return true;
}

// ---------------------------------------------------------------- session

HttpSession::HttpSession(const std::string& userAgent, InternetAccess access,
                         const std::string& proxyServer, const std::string& proxyBypass)
    : userAgent_(userAgent),
      access_(access),
      proxyServer_(proxyServerHostPort(proxyServer)),
      proxyBypass_(proxyBypass) {
  ensureCurlInitialized();
}

HttpSession::~HttpSession() = default;

void HttpSession::setLimits(const HttpLimits& limits) { limits_ = limits; }

HttpLimits HttpSession::limits() const { return effectiveLimits(limits_); }

std::string HttpSession::proxyFor(const std::string& host) const {
  std::string server;
  std::string bypass;
  if (access_ == InternetAccess::Proxy) {
    server = proxyServer_;
    bypass = proxyBypass_;
  } else if (access_ == InternetAccess::Preconfigured) {
    ProxyOptions options;
    if (queryProxyOptions("", &options) && (options.flags & kProxyTypeProxy)) {
      server = proxyServerHostPort(options.proxyServer);
      bypass = options.bypassList;
    }
  }
  if (server.empty() || proxyBypassed(bypass, host)) return "";
  return "http://" + server;
}

// ------------------------------------------------------------- connection

struct HttpConnection::Shared {
  std::unique_ptr<CURLSH, CurlShareDeleter> share;
};

HttpConnection::HttpConnection(HttpSession& session, const std::string& host, uint16_t port)
    : session_(session), host_(host), port_(port), shared_(std::make_shared<Shared>()) {
  shared_->share.reset(curl_share_init());
  if (shared_->share) {
    curl_share_setopt(shared_->share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(shared_->share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
}

HttpConnection::~HttpConnection() = default;

// ---------------------------------------------------------------- request

struct HttpRequest::Impl {
  HttpConnection* connection = nullptr;
  std::shared_ptr<HttpConnection::Shared> shared;  // keeps the cache alive
  std::string method;
  std::string object;
  uint32_t flags = 0;
  std::vector<std::string> headers;  // "Name: value"

  uint64_t maxResponse = UINT64_MAX;
  bool sending = false;
  uint64_t announced = 0;
  std::string body;
  size_t bodySent = 0;

  unsigned status = 0;
  std::string response;
  size_t readPos = 0;
  bool tooLarge = false;
  HttpLimit limitHit = HttpLimit::None;

  std::string perform();

  static size_t onBody(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t bytes = size * count;
    if (impl->response.size() + bytes > impl->maxResponse) {
      impl->tooLarge = true;
      impl->response.clear();
      impl->response.shrink_to_fit();
      return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    impl->response.append(data, bytes);
    return bytes;
  }

  static size_t onUpload(char* buffer, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t bytes = std::min(size * count, impl->body.size() - impl->bodySent);
    std::memcpy(buffer, impl->body.data() + impl->bodySent, bytes);
    impl->bodySent += bytes;
    return bytes;
  }

  // libcurl rewinds the body when it sends the request again, on a fresh
  // connection after a reused one turned out to be closed.
  static int onSeek(void* self, curl_off_t offset, int origin) {
    auto* impl = static_cast<Impl*>(self);
    if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) > impl->body.size()) {
      return CURL_SEEKFUNC_CANTSEEK;
    }
    impl->bodySent = static_cast<size_t>(offset);
    return CURL_SEEKFUNC_OK;
  }

};

HttpRequest::HttpRequest(HttpConnection& connection, const std::string& method,
                         const std::string& object, uint32_t flags)
    : impl_(std::make_unique<Impl>()) {
  impl_->connection = &connection;
  impl_->shared = connection.shared_;
  impl_->method = method.empty() ? "GET" : method;
  impl_->object = object.empty() ? "/" : object;
  if (impl_->object.front() != '/') impl_->object.insert(0, "/");
  impl_->flags = flags;
}

HttpRequest::~HttpRequest() = default;

bool HttpRequest::valid() const { return impl_ != nullptr; }

void HttpRequest::close() { impl_.reset(); }

bool HttpRequest::addHeaders(const std::string& headers, uint32_t flags) {
  if (!impl_) {
    setLastError(kInternetIncorrectHandleState);
    return false;
  }
  bool allAdded = true;
  size_t start = 0;
  while (start < headers.size()) {
    size_t end = headers.find('\n', start);
    if (end == std::string::npos) end = headers.size();
    const std::string line = trim(headers.substr(start, end - start));
    start = end + 1;
    const size_t colon = line.find(':');
    if (line.empty() || colon == std::string::npos || colon == 0) continue;
    const std::string name = toLower(trim(line.substr(0, colon)));
    auto existing = std::find_if(impl_->headers.begin(), impl_->headers.end(), [&](const std::string& h) {
      return toLower(trim(h.substr(0, h.find(':')))) == name;
    });
    if (existing != impl_->headers.end()) {
      if (flags & kHttpAddReqFlagReplace) {
        *existing = line;
        continue;
      }
      if (flags & kHttpAddReqFlagAddIfNew) {
        setLastError(kHttpHeaderAlreadyExists);
        allAdded = false;
        continue;
      }
    }
    impl_->headers.push_back(line);
  }
  return allAdded;
}

void HttpRequest::setMaxResponseBytes(uint64_t bytes) {
  if (impl_) impl_->maxResponse = bytes;
}

std::string HttpRequest::send(const std::string& body) {
  std::string error = beginSend(body.size());
  if (error.empty()) error = writeBody(body);
  if (error.empty()) error = endSend();
  return error;
}

std::string HttpRequest::beginSend(uint64_t bodyLength) {
  if (!impl_ || impl_->sending) return failure(kInternetIncorrectHandleState, "The request is not open for sending.");
  impl_->sending = true;
  impl_->announced = bodyLength;
  impl_->body.clear();
  return "";
}

std::string HttpRequest::writeBody(const std::string& data) {
  if (!impl_ || !impl_->sending) return failure(kInternetIncorrectHandleState, "The request is not being sent.");
  if (impl_->body.size() + data.size() > impl_->announced) {
    return failure(kInternetExtendedError, "More data written than the announced body length.");
  }
  impl_->body += data;
  return "";
}

std::string HttpRequest::endSend() {
  if (!impl_ || !impl_->sending) return failure(kInternetIncorrectHandleState, "The request is not being sent.");
  impl_->sending = false;
  if (impl_->body.size() != impl_->announced) {
    return failure(kInternetExtendedError, "Less data written than the announced body length.");
  }
  return impl_->perform();
}

std::string HttpRequest::Impl::perform() {
  CurlPtr curl(curl_easy_init());
  if (!curl) return failure(kNotEnoughMemory, "Out of memory.");
  CURL* h = curl.get();
  HttpSession& session = connection->session();

  std::string host = connection->host();
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  const std::string url = "http://" + host + ":" + std::to_string(connection->port()) + object;
  const std::string proxy = session.proxyFor(connection->host());

  SlistPtr list;
  auto appendHeader = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown) {
      (void)list.release();
      list.reset(grown);
    }
  };
  for (const std::string& header : headers) appendHeader(header);
  // Only the headers the caller gives: libcurl's own Accept and Expect go.
  appendHeader("Accept:");
  appendHeader("Expect:");

  char errorBuffer[CURL_ERROR_SIZE] = {};
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(h, CURLOPT_USERAGENT, session.userAgent().c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Impl::onBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
  if (flags & kInternetFlagNoAutoRedirect) {
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  } else {
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  }
  if ((flags & kInternetFlagExistingConnect) && shared->share) {
    curl_easy_setopt(h, CURLOPT_SHARE, shared->share.get());
  } else {
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
  }

  const std::string verb = toLower(method);
  bodySent = 0;
  if (verb == "head") {
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
  } else if (verb == "get" && body.empty()) {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    // Any request with a body, and PUT and POST even without one, sends a
    // Content-Length.
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &Impl::onUpload);
    curl_easy_setopt(h, CURLOPT_READDATA, this);
    curl_easy_setopt(h, CURLOPT_SEEKFUNCTION, &Impl::onSeek);
    curl_easy_setopt(h, CURLOPT_SEEKDATA, this);
    if (verb != "put") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
  }

  status = 0;
  response.clear();
  readPos = 0;
  tooLarge = false;
  limitHit = HttpLimit::None;
  TransferWatch watch(session.limits());
  watch.install(h);
  const CURLcode result = curl_easy_perform(h);
  long code = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  if (result != CURLE_OK) {
    response.clear();
    if (tooLarge) {
      limitHit = HttpLimit::ResponseSize;
      return failure(kInternetExtendedError,
                     "The response is larger than " + std::to_string(maxResponse) + " bytes.");
    }
    limitHit = watch.cause(result);
    if (limitHit == HttpLimit::LowSpeed || limitHit == HttpLimit::Deadline) {
      return failure(kInternetTimeout, watch.text(limitHit));
    }
    std::string text = errorBuffer[0] ? errorBuffer : curl_easy_strerror(result);
    return failure(codeForCurl(result), text);
  }
  status = static_cast<unsigned>(code);
  return "";
}

unsigned HttpRequest::statusCode() const { return impl_ ? impl_->status : 0; }

HttpLimit HttpRequest::limitHit() const { return impl_ ? impl_->limitHit : HttpLimit::None; }

size_t HttpRequest::read(char* buffer, size_t size) {
  if (!impl_) return 0;
  const size_t bytes = std::min(size, impl_->response.size() - impl_->readPos);
  std::memcpy(buffer, impl_->response.data() + impl_->readPos, bytes);
  impl_->readPos += bytes;
  return bytes;
}

// ------------------------------------------------------------- download

std::string downloadUrlToFile(const std::string& url, const std::filesystem::path& path) {
  ensureCurlInitialized();
  CurlPtr curl(curl_easy_init());
  if (!curl) return failure(kNotEnoughMemory, "Out of memory.");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return failure(kAccessDenied, "Can't create " + path.string() + ".");
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CURL* h = curl.get();
  auto write = +[](char* data, size_t size, size_t count, void* stream) -> size_t {
    auto* file = static_cast<std::ofstream*>(stream);
    file->write(data, static_cast<std::streamsize>(size * count));
    return *file ? size * count : 0;
  };
  TransferWatch watch(effectiveLimits(HttpLimits{}));
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https,file");
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
  watch.install(h);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &out);
  const CURLcode result = curl_easy_perform(h);
  out.close();
  if (result != CURLE_OK) {
    const HttpLimit limit = watch.cause(result);
    if (limit == HttpLimit::LowSpeed || limit == HttpLimit::Deadline) {
      return failure(kInternetTimeout, watch.text(limit));
    }
    return failure(codeForCurl(result), errorBuffer[0] ? errorBuffer : curl_easy_strerror(result));
  }
  if (!out) return failure(kWriteFault, "Can't write " + path.string() + ".");
  return "";
}

}  // namespace platform
