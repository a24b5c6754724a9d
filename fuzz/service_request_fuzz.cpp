// libFuzzer target: one request to the reference service, as any client may
// send it. The first byte picks the method, the bytes up to the first line
// feed are the request target (path and query), the rest is the body. The
// request runs against an account "fuzz" (password "secret") with a stored
// list; a list the service accepts must be served back as a list it accepts.
//
// Account creation (POST to the sign-up page) is left out: every such request
// hashes a password with the slow interactive limits. Its form body goes
// through the same parameter parser, which runs on every body here.
#include <sodium.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "fuzz/fuzz_prefix.h"
#include "service/documents.h"
#include "service/handler.h"
#include "service/query.h"
#include "service/signup_page.h"

namespace {

// Accounts in memory: the storage is not what this target is about.
class MemoryStorage final : public service::Storage {
 public:
  std::string addAccount(const std::string& name, const std::string& passwordHash, std::int64_t now,
                         bool& created) override {
    created = accounts_.emplace(name, service::Account{name, passwordHash, now, std::nullopt}).second;
    return "";
  }
  std::string removeAccount(const std::string& name, bool& removed) override {
    removed = accounts_.erase(name) > 0;
    return "";
  }
  std::string findAccount(const std::string& name, std::optional<service::Account>& out) override {
    auto it = accounts_.find(name);
    out = it == accounts_.end() ? std::nullopt : std::optional<service::Account>(it->second);
    return "";
  }
  std::string putList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                      std::optional<std::int64_t> expected, std::int64_t, const service::RenderList& render,
                      service::WriteResult& result, std::int64_t& listTime) override {
    service::Account* account = bound(name, passwordHash, expected, result, listTime);
    if (!account) return "";
    account->listTime = listTime = std::max(now, account->listTime + 1);
    account->document = render(listTime);
    return "";
  }
  std::string clearList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                        std::optional<std::int64_t> expected, service::WriteResult& result,
                        std::int64_t& listTime) override {
    service::Account* account = bound(name, passwordHash, expected, result, listTime);
    if (!account) return "";
    account->listTime = listTime = std::max(now, account->listTime + 1);
    account->document.reset();
    return "";
  }
  // No versions are kept: the history is not what this target is about.
  std::string listHistory(const std::string& name, std::optional<service::ListVersion>& current,
                          std::vector<service::ListVersion>& versions) override {
    auto it = accounts_.find(name);
    current.reset();
    if (it != accounts_.end()) current = service::ListVersion{0, it->second.listTime};
    versions.clear();
    return "";
  }
  std::string restoreVersion(const std::string& name, std::int64_t, std::int64_t,
                             const service::RerenderList&, service::WriteResult& result,
                             std::int64_t&) override {
    result = accounts_.count(name) ? service::WriteResult::NoVersion : service::WriteResult::NoAccount;
    return "";
  }

 private:
  service::Account* bound(const std::string& name, const std::string& hash,
                          std::optional<std::int64_t> expected, service::WriteResult& result,
                          std::int64_t& listTime) {
    auto it = accounts_.find(name);
    if (it == accounts_.end() || it->second.passwordHash != hash) {
      result = service::WriteResult::NoAccount;
      return nullptr;
    }
    if (expected && *expected != it->second.listTime) {
      result = service::WriteResult::Conflict;
      listTime = it->second.listTime;
      return nullptr;
    }
    result = service::WriteResult::Done;
    return &it->second;
  }
  std::map<std::string, service::Account> accounts_;
};

constexpr char kStoredList[] =
    "<?xml version=\"1.0\"?>\n<bookmarks>"
    "<bookmark order=\"0\"><name>Lark</name><link>http://lark.example/</link></bookmark>"
    "<folder order=\"1\"><name>News</name><children>"
    "<bookmark order=\"0\"><name>Daily</name><link>http://daily.example/</link></bookmark>"
    "</children></folder></bookmarks>";

// A hash with the smallest limits: checking a wrong password against it is
// fast, so that the fuzzer is not slowed down by Argon2.
const std::string& cheapHash() {
  static const std::string hash = [] {
    if (sodium_init() < 0) std::abort();
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, "secret", 6, crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN) != 0) {
      std::abort();
    }
    return std::string(out);
  }();
  return hash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::fuzzPrefix();
  static service::PasswordChecker passwords;
  static const char* const kMethods[] = {"GET", "PUT", "POST", "DELETE", "HEAD", "get", "", "OPTIONS"};
  if (size == 0) return 0;
  service::HttpRequest request;
  request.method = kMethods[data[0] % 8];
  const std::string rest = fuzzsupport::bytesOf(data + 1, size - 1);
  const size_t lineEnd = rest.find('\n');
  request.target = rest.substr(0, lineEnd);
  if (lineEnd != std::string::npos) request.body = rest.substr(lineEnd + 1);

  service::parseParams(request.body, true);
  const service::Target target = service::parseTarget(request.target);
  if (target.path == service::kSignupPath && request.method == "POST") return 0;

  MemoryStorage storage;
  bool created = false;
  storage.addAccount("fuzz", cheapHash(), 1100000000, created);
  std::int64_t listTime = 0;
  service::WriteResult result;
  storage.putList(
      "fuzz", cheapHash(), 1110000000, std::nullopt, 3,
      [](std::int64_t time) {
        service::ListDocument list;
        if (!service::ListDocument::parse(kStoredList, list).empty()) std::abort();
        return list.render(time);
      },
      result, listTime);

  service::ServiceContext context{storage, passwords, "/data", [] { return std::int64_t{1120000000}; }};
  const service::HttpResponse response = service::handleRequest(context, request);
  if (response.status == 200 && request.method == "PUT") {
    std::optional<service::Account> account;
    storage.findAccount("fuzz", account);
    if (!account) std::abort();
    if (account->document) {
      service::ListDocument again;
      if (!service::ListDocument::parse(*account->document, again).empty()) std::abort();
    }
    service::HttpRequest get{"GET", "/data?user=fuzz&pass=secret&function=get", ""};
    if (service::handleRequest(context, get).status != 200) std::abort();
  }
  return 0;
}
