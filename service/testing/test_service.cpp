#include "service/testing/test_service.h"

#include <curl/curl.h>

#include <ctime>
#include <mutex>
#include <stdexcept>

#include "service/admin.h"

namespace service::testing {
namespace {

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct Upload {
  const std::string* body;
  size_t offset = 0;
};

size_t supply(char* buffer, size_t size, size_t count, void* in) {
  auto* upload = static_cast<Upload*>(in);
  size_t n = std::min(size * count, upload->body->size() - upload->offset);
  upload->body->copy(buffer, n, upload->offset);
  upload->offset += n;
  return n;
}

}  // namespace

Reply fetch(const std::string& method, const std::string& url, const std::string& body,
            const std::vector<std::string>& headers, bool chunked) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  std::unique_ptr<curl_slist, SlistDeleter> list;
  for (const std::string& h : headers) list.reset(curl_slist_append(list.release(), h.c_str()));
  if (chunked) list.reset(curl_slist_append(list.release(), "Transfer-Encoding: chunked"));
  // No "Expect: 100-continue" pause unless a test asks for it.
  list.reset(curl_slist_append(list.release(), "Expect:"));
  Reply reply;
  Upload upload{&body};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply.body);
  if (method == "PUT" || method == "POST") {
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, supply);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    if (!chunked) {
      curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(body.size()));
    }
  }
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, list.get());
  CURLcode rc = curl_easy_perform(c);
  if (rc != CURLE_OK) {
    reply.error = curl_easy_strerror(rc);
  }
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
  return reply;
}

RunningService::RunningService(ServerOptions options, SqliteOptions storageOptions) {
  if (std::string error = SqliteStorage::open(database(), storage_, storageOptions);
      !error.empty()) {
    throw std::runtime_error(error);
  }
  options.host = "127.0.0.1";
  options.port = 0;
  server_ = std::make_unique<Server>(*storage_, passwords_, options);
  if (std::string error = server_->start(); !error.empty()) throw std::runtime_error(error);
}

RunningService::~RunningService() { server_->stop(); }

int RunningService::port() const { return server_->port(); }

std::string RunningService::url(const std::string& target) const {
  return "http://127.0.0.1:" + std::to_string(server_->port()) + target;
}

std::string RunningService::dataUrl(const std::string& user, const std::string& pass,
                                    const std::string& function, const std::string& extra) const {
  return url("/data?user=" + user + "&pass=" + pass + "&function=" + function + extra);
}

void RunningService::addAccount(const std::string& name, const std::string& password) {
  if (std::string error = addUser(*storage_, name, password, std::time(nullptr)); !error.empty()) {
    throw std::runtime_error(error);
  }
}

}  // namespace service::testing
