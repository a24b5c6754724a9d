// Test helpers: a running service in a temporary folder and an HTTP client
// (libcurl) that talks to it over loopback.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "service/http_server.h"
#include "service/passwords.h"
#include "service/sqlite_storage.h"
#include "tests/support/temp_prefix.h"

namespace service::testing {

struct Reply {
  long status = 0;  // 0: no HTTP answer (the transfer failed)
  std::string body;
  std::string error;  // libcurl's text when the transfer failed
};

// One request; `headers` are extra header lines ("Name: value").
Reply fetch(const std::string& method, const std::string& url, const std::string& body = {},
            const std::vector<std::string>& headers = {}, bool chunked = false);

// A service on an ephemeral loopback port with its database in a temporary
// folder, stopped and removed at the end of the test.
class RunningService {
 public:
  // Options other than host and port are taken from `options`.
  explicit RunningService(ServerOptions options = {}, SqliteOptions storageOptions = {});
  ~RunningService();
  int port() const;

  // "http://127.0.0.1:PORT" followed by the target.
  std::string url(const std::string& target) const;
  // The protocol URL for an account and function, the query unescaped.
  std::string dataUrl(const std::string& user, const std::string& pass, const std::string& function,
                      const std::string& extra = {}) const;
  void addAccount(const std::string& name, const std::string& password);
  Storage& storage() { return *storage_; }
  std::filesystem::path database() const { return dir_.path() / "service.db"; }

 private:
  testsupport::TempDir dir_;
  std::unique_ptr<SqliteStorage> storage_;
  PasswordChecker passwords_;
  std::unique_ptr<Server> server_;
};

}  // namespace service::testing
