// The fixture of the plug-in's end-to-end tests: the reference service on a
// loopback port with one account, and computers (prefixes) whose engine
// settings point at it, with the plug-in registered.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/host_session.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_prefix.h"

namespace plugintest {

inline constexpr char kUser[] = "alice";
inline constexpr char kPassword[] = "s3cret pw";
// What the engine logs at the start of every synchronisation it runs.
inline constexpr char kRunStarted[] = "Sychronization has been started";
inline constexpr char kPluginKey[] = "HKCU\\Software\\Veltrane Inc.\\Quorvane\\Explorer";

// The sorted <name> texts of a document (found by hand: a large document
// is no work for std::regex).
inline std::vector<std::string> documentNames(const std::string& document) {
  std::vector<std::string> found;
  const std::string open = "<name>", close = "</name>";
  for (size_t at = document.find(open); at != std::string::npos; at = document.find(open, at)) {
    at += open.size();
    const size_t end = document.find(close, at);
    if (end == std::string::npos) break;
    found.push_back(document.substr(at, end - at));
    at = end + close.size();
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Files and folders below a folder, at every depth.
inline size_t countEntries(const std::filesystem::path& folder) {
  size_t count = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    ++count;
  }
  return count;
}

// favoriteNames() as the plain names the service stores: "F01/B02.url"
// gives "B02", "F01/" gives "F01".
inline std::vector<std::string> plainNames(const std::vector<std::string>& favorites) {
  std::vector<std::string> names;
  for (std::string name : favorites) {
    if (!name.empty() && name.back() == '/') name.pop_back();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".url") == 0) name.resize(name.size() - 4);
    names.push_back(name.substr(name.rfind('/') + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PluginE2ETest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.addUser(kUser, kPassword));
    ASSERT_TRUE(service_.start());
  }

  testsupport::PluginSettings settings() const {
    testsupport::PluginSettings s;
    s.port = service_.port();
    s.username = kUser;
    s.password = kPassword;
    return s;
  }

  // A computer with these settings and the plug-in registered.
  std::unique_ptr<testsupport::HostComputer> computer(const testsupport::PluginSettings& s) {
    auto c = std::make_unique<testsupport::HostComputer>();
    c->writeSettings(s);
    testsupport::HostRun registered = c->registerPlugin();
    EXPECT_EQ(registered.exitCode, 0) << registered.joined();
    return c;
  }

  // The bookmark and folder names the service holds for the account.
  std::vector<std::string> serviceNames() const {
    std::string output;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", kUser,
                             "--database", service_.database().string()},
                            "", &output);
    return documentNames(output);
  }

  testsupport::TempPrefix prefix_;  // the test process's own
  testsupport::TempDir serviceFolder_;
  testsupport::ServiceProcess service_{serviceFolder_.path()};
};

// The runs and echo lines of a session in order, a run as "run".
inline std::vector<std::string> events(const testsupport::HostRun& run) {
  std::vector<std::string> seen;
  for (const std::string& line : run.grep({kRunStarted, "echo "})) {
    seen.push_back(line.find(kRunStarted) != std::string::npos ? "run" : line);
  }
  return seen;
}

// Names as favoriteNames() gives them, from the plain names of documentNames:
// "News/" for a folder, "News/Daily.url" for a bookmark in it.
using Names = std::vector<std::string>;

}  // namespace plugintest
