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

#include "platform/http_client.h"
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

// XML text with its character references and the five entities replaced.
inline std::string xmlUnescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t end = text[i] == '&' ? text.find(';', i) : std::string::npos;
    if (end == std::string::npos) {
      out += text[i];
      continue;
    }
    const std::string entity = text.substr(i + 1, end - i - 1);
    static const std::pair<const char*, char> named[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    bool done = false;
    for (const auto& [name, c] : named) {
      if (entity == name) {
        out += c;
        done = true;
      }
    }
    if (!done && entity.size() > 1 && entity[0] == '#') {
      const unsigned long code = entity[1] == 'x' ? std::stoul(entity.substr(2), nullptr, 16) : std::stoul(entity.substr(1));
      if (code < 0x80) {
        out += static_cast<char>(code);
      } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
      } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
      }
      done = true;
    }
    if (!done) {
      out += text[i];
      continue;
    }
    i = end;
  }
  return out;
}

// The sorted <name> texts of a document, unescaped (found by hand: a large
// document is no work for std::regex).
inline std::vector<std::string> documentNames(const std::string& document) {
  std::vector<std::string> found;
  const std::string open = "<name>", close = "</name>";
  for (size_t at = document.find(open); at != std::string::npos; at = document.find(open, at)) {
    at += open.size();
    const size_t end = document.find(close, at);
    if (end == std::string::npos) break;
    found.push_back(xmlUnescaped(document.substr(at, end - at)));
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

  // settings() with a synchronisation at every browser start: a host that
  // opens and quits runs once.
  testsupport::PluginSettings startupSettings() const {
    testsupport::PluginSettings s = settings();
    s.syncAfterStart = 1;
    return s;
  }

  // Runs the host on the script and expects it to end normally.
  static testsupport::HostRun runHostOk(const testsupport::HostComputer& pc, const std::string& script = "open\nquit\n",
                                        const testsupport::Environment& extra = {}) {
    testsupport::HostRun result = pc.runHost(script, extra);
    EXPECT_EQ(result.exitCode, 0) << result.joined();
    return result;
  }

  // A computer with these settings and the plug-in registered.
  std::unique_ptr<testsupport::HostComputer> computer(const testsupport::PluginSettings& s) {
    auto c = std::make_unique<testsupport::HostComputer>();
    c->writeSettings(s);
    testsupport::HostRun registered = c->registerPlugin();
    EXPECT_EQ(registered.exitCode, 0) << registered.joined();
    return c;
  }

  // The list the service holds for the account, as stored.
  std::string serviceDocument() const {
    std::string output;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", kUser,
                             "--database", service_.database().string()},
                            "", &output);
    return output;
  }

  // The bookmark and folder names the service holds for the account.
  std::vector<std::string> serviceNames() const { return documentNames(serviceDocument()); }

  // Stores a list on the service as another client would: `items` is the
  // XML of the root's items.
  void putDocument(const std::string& items) const {
    const std::string text =
        "<?xml version=\"1.0\"?>\n"
        "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" \"exchange.dtd\">\n"
        "<bookmarks>" +
        items + "</bookmarks>\n";
    platform::HttpSession session("test", platform::InternetAccess::Direct);
    platform::HttpConnection connection(session, "127.0.0.1", service_.port());
    platform::HttpRequest request(connection, "PUT", std::string("/data?user=") + kUser + "&pass=s3cret%20pw&function=put", 0);
    ASSERT_EQ(request.send(text), "");
    ASSERT_EQ(request.statusCode(), 200u);
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
