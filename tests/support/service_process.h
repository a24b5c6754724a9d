// The reference service for tests: build/bin/quorvane-service on a free
// loopback port with its database in a folder of the test's.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/child_process.h"

namespace testsupport {

class ServiceProcess {
 public:
  // Keeps its database (service.db) in the folder, which must exist.
  explicit ServiceProcess(const std::filesystem::path& folder);
  ~ServiceProcess();

  // Creates an account (before or after start).
  bool addUser(const std::string& name, const std::string& password);
  // On a free port, or on the given one (a service started again where its
  // computers expect it).
  bool start(unsigned short port = 0);
  void stop();

  unsigned short port() const { return port_; }
  const std::filesystem::path& database() const { return database_; }

 private:
  std::filesystem::path database_;
  unsigned short port_ = 0;
  ChildProcess process_;
};

}  // namespace testsupport
