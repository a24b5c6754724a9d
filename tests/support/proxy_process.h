// A real HTTP proxy for tests: Debian's tinyproxy on a free loopback port,
// with optional Basic authentication, logging every request line it gets.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace testsupport {

class ProxyProcess {
 public:
  // Keeps its configuration and log in the folder (which must exist).
  explicit ProxyProcess(const std::filesystem::path& folder);
  ~ProxyProcess();

  // With a user name, clients must authenticate with Basic user:password.
  bool start(const std::string& user = {}, const std::string& password = {});
  void stop();

  unsigned short port() const { return port_; }
  // "127.0.0.1:port"
  std::string hostPort() const;

  // The request lines the proxy received, in order
  // ("GET http://127.0.0.1:8080/data?user=u HTTP/1.1").
  std::vector<std::string> requestLines() const;

 private:
  std::filesystem::path folder_;
  unsigned short port_ = 0;
  ChildProcess process_;
};

}  // namespace testsupport
