// The toolbar button of iexplore.exe opens the engine's options dialog; the
// user (scripted `ui` actions) edits the settings and synchronises, and the
// plug-in applies what the dialog hands back. Against the reference service
// on a loopback port, with the plug-in registered by regsvr32 in the test's
// prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/http_client.h"
#include "platform/registry.h"
#include "tests/support/child_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_prefix.h"

namespace {

using testsupport::ScopedEnv;
using Names = std::vector<std::string>;

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret pw";
constexpr char kKeyPath[] = "Software\\Veltrane Inc.\\Quorvane\\Explorer";

void writeText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string listDocument(const Names& names) {
  std::string text =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" \"exchange.dtd\">\n"
      "<bookmarks>\n";
  int order = 0;
  for (const std::string& name : names) {
    text += "  <bookmark order=\"" + std::to_string(order++) + "\">\n    <name>" + name +
            "</name>\n    <link>http://" + name + ".example/</link>\n  </bookmark>\n";
  }
  return text + "</bookmarks>\n";
}

Names documentNames(const std::string& document) {
  Names found;
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

// The lines the browser stand-in and the UI print; the engine log, which is
// copied to standard output too, is left out.
std::vector<std::string> sessionLines(const std::string& output) {
  static const char* const kinds[] = {
      "start",   "library",    "window", "object", "button", "press", "exec", "navigate", "dialog",
      "control", "messagebox", "cursor", "user",   "icon",   "error", "quit", "ui"};
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    for (const char* kind : kinds) {
      if (line.rfind(std::string(kind) + " ", 0) == 0 || line == kind) {
        lines.push_back(line);
        break;
      }
    }
  }
  return lines;
}

// The word after " key=" in the line, up to the next space.
std::string wordAfter(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  const size_t begin = at + key.size() + 2;
  return line.substr(begin, line.find(' ', begin) - begin);
}

// The command line of a host program, run with the hosts' leak suppressions
// (tests/support/host_lsan.supp) and full malloc stacks under the sanitizers.
std::vector<std::string> hostCommand(const std::string& program) {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return {"/usr/bin/env", std::string("LSAN_OPTIONS=suppressions=") + HOST_LSAN_SUPPRESSIONS,
          "ASAN_OPTIONS=" + std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
              "fast_unwind_on_malloc=0",
          (testsupport::binaryDir() / program).string()};
}

class DialogToolbarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.addUser(kUser, kPassword));
    ASSERT_TRUE(service_.start());
    const auto bin = testsupport::binaryDir();
    std::string out;
    std::vector<std::string> regsvr32 = hostCommand("regsvr32");
    regsvr32.push_back("/s");
    regsvr32.push_back((bin / "libBookmark.so").string());
    ASSERT_EQ(testsupport::runProgram(regsvr32, "", &out),
              0)
        << out;
    // The service's address comes only from the persisted settings.
    writeSettingsFile("server=127.0.0.1/data\r\n");
    std::filesystem::create_directories(favorites());
  }

  std::filesystem::path dataFolder() const {
    return prefix_.path() / "profile/AppData/Roaming/BookmarkPlugin";
  }
  std::filesystem::path favorites() const { return prefix_.path() / "profile/Favorites"; }
  // The settings file with the test's lines, the service's port, and no
  // run when the browser quits (only the toolbar's run is under test).
  void writeSettingsFile(const std::string& lines) {
    writeText(
        dataFolder() / "bookmarks_Explorer.cfg",
        lines + "server.port=" + std::to_string(service_.port()) + "\r\nsync.beforeexit=0\r\n");
  }
  void addFavorite(const std::string& name) {
    writeText(favorites() / (name + ".url"),
              "[InternetShortcut]\r\nURL=http://" + name + ".example/\r\n");
  }
  Names favoriteNames() const {
    Names found;
    if (!std::filesystem::exists(favorites())) return found;
    for (const auto& entry : std::filesystem::directory_iterator(favorites())) {
      if (entry.path().extension() == ".url") found.push_back(entry.path().stem().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  void putAtService(const Names& list) {
    platform::HttpSession session("test", platform::InternetAccess::Direct);
    platform::HttpConnection connection(session, "127.0.0.1", service_.port());
    platform::HttpRequest request(connection, "PUT",
                                  "/data?user=alice&pass=s3cret%20pw&function=put", 0);
    ASSERT_EQ(request.send(listDocument(list)), "");
    ASSERT_EQ(request.statusCode(), 200u);
  }
  Names serviceNames() {
    std::string out;
    EXPECT_EQ(testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(),
                                       "export", kUser, "--database", service_.database().string()},
                                      "", &out),
              0);
    return documentNames(out);
  }

  static uint32_t registryDword(const std::string& name) {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::CurrentUser, kKeyPath, &key) != platform::kOk) {
      return 0xBAD;
    }
    platform::RegValue value;
    if (key.readValue(name, &value) != platform::kOk || value.data.size() != 4) return 0xBAD;
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<uint8_t>(value.data[i]);
    return number;
  }
  static void setRegistryDword(const std::string& name, uint32_t number) {
    platform::RegKey key;
    ASSERT_EQ(platform::RegKey::create(platform::RegRoot::CurrentUser, kKeyPath, &key),
              platform::kOk);
    ASSERT_EQ(key.setDword(name, number), platform::kOk);
  }

  // One browser session: a window, the `ui` actions queued, the button
  // pressed, quit. Returns the session's lines.
  std::vector<std::string> pressWith(const std::vector<std::string>& actions) {
    std::string script = "open\n";
    for (const std::string& action : actions) script += "ui " + action + "\n";
    script += "press 1\nquit\n";
    std::string out;
    EXPECT_EQ(testsupport::runProgram(hostCommand("iexplore.exe"), script, &out),
              0)
        << out;
    lines_ = sessionLines(out);
    return lines_;
  }
  bool shown(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  std::vector<std::string> starting(const std::string& start) const {
    std::vector<std::string> found;
    for (const std::string& line : lines_) {
      if (line.rfind(start, 0) == 0) found.push_back(line.substr(0, line.find(" owner=")));
    }
    return found;
  }
  std::string dump() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

  testsupport::TempPrefix prefix_;
  testsupport::NoProxyEnvironment noProxy_;
  ScopedEnv ui_{"QUORVANE_UI", "script:/dev/null"};
  testsupport::TempDir serviceDir_;
  testsupport::ServiceProcess service_{serviceDir_.path()};
  std::vector<std::string> lines_;
};

const char kSucceeded[] =
    "messagebox caption=\"Information\" text=\"Synchronization completed successfully. Press "
    "\\\"Close\\\" to continue.\" buttons=ok icon=information";

TEST_F(DialogToolbarTest, SynchronizeNowThenCloseSynchronisesTheFavorites) {
  putAtService({"server1"});
  addFavorite("local1");
  pressWith({"type 2004 alice", "type 2005 s3cret pw", "click 2002", "click 1"});
  EXPECT_EQ(starting("messagebox "), (std::vector<std::string>{kSucceeded})) << dump();
  EXPECT_EQ(starting("dialog end "),
            (std::vector<std::string>{"dialog end window=1001 template=2000 result=1"}));
  // Both sides hold the union: the dialog's document reached the plug-in,
  // which wrote it into the Favorites folder.
  EXPECT_EQ(favoriteNames(), (Names{"local1", "server1"}));
  EXPECT_EQ(serviceNames(), (Names{"local1", "server1"}));
  EXPECT_EQ(registryDword("lastsync"), 1u);
  EXPECT_TRUE(starting("icon add").empty()) << dump();
}

TEST_F(DialogToolbarTest, ClosedWithoutAPressAfterAFailedWriteAppliesTheRecoveryDocument) {
  // The previous run could not write its result; the cache holds what server
  // and client last agreed on.
  addFavorite("local1");
  setRegistryDword("lastsync", 0);
  writeText(dataFolder() / "bookmarkscache_Explorer.xml", listDocument({"cached1"}));
  pressWith({"click 1"});
  EXPECT_TRUE(starting("messagebox ").empty()) << dump();
  EXPECT_EQ(favoriteNames(), (Names{"cached1", "local1"}));
  EXPECT_EQ(registryDword("lastsync"), 1u);
  EXPECT_TRUE(serviceNames().empty()) << "nothing was synchronised";
}

TEST_F(DialogToolbarTest, ClosedWithoutAPressChangesNothing) {
  addFavorite("local1");
  pressWith({"type 2004 bob", "click 1"});
  EXPECT_EQ(favoriteNames(), (Names{"local1"}));
  EXPECT_TRUE(starting("icon add").empty()) << dump();
  EXPECT_EQ(registryDword("lastsync"), 1u);
}

TEST_F(DialogToolbarTest, EnabledStatesAfterTickingAndUnticking) {
  writeSettingsFile("enabled=0\r\nserver=127.0.0.1/data\r\nsync.auto=0\r\nproxy.auth=0\r\n");
  pressWith({"click 2002", "click 2017", "click 2014", "click 2010", "click 2017", "escape"});
  // With "Enabled" off the press cannot reach the button.
  EXPECT_TRUE(shown("user click window=1001 id=2002 ignored (disabled or hidden)")) << dump();
  const std::vector<std::string> expected = {
      // tick "Enabled": everything but the proxy fields and the period
      "user click window=1001 id=2017",
      "enabled 2014=1 2010=1 2008=1 2009=1 2004=1 2005=1 2019=1 2002=1",
      // tick "Proxy authentication": the proxy fields
      "user click window=1001 id=2014",
      "enabled 2015=1 2016=1",
      // tick "Auto synchronization": the period
      "user click window=1001 id=2010",
      "enabled 2006=1",
      // untick "Enabled": all of them again
      "user click window=1001 id=2017",
      "enabled 2015=0 2016=0 2006=0 2014=0 2010=0 2008=0 2009=0 2004=0 2005=0 2019=0 2002=0",
  };
  // The clicks, each with the enabled states it changed.
  std::vector<std::string> seen;
  std::map<std::string, std::string> enabled;
  for (const std::string& line : lines_) {
    if (line.rfind("user click window=1001 id=", 0) == 0 &&
        line.find("ignored") == std::string::npos) {
      seen.push_back(line);
      seen.push_back("enabled");
    } else if (line.rfind("control window=1001 ", 0) == 0) {
      // The last " enabled=" is the state: a text can only come before it.
      const std::string id = wordAfter(line, "id");
      const std::string state = wordAfter(line.substr(line.rfind(" enabled=")), "enabled");
      if (enabled.count(id) && enabled[id] != state && !seen.empty()) {
        seen.back() += " " + id + "=" + state;
      }
      enabled[id] = state;
    }
  }
  EXPECT_EQ(seen, expected) << dump();
  // Escape reads nothing, but the clicks did, and the settings were written:
  // the next browser sees them.
  EXPECT_EQ(registryDword("enabled"), 0u);
  EXPECT_EQ(registryDword("proxy_auth"), 1u);
  EXPECT_EQ(registryDword("sync_auto"), 1u);
}

TEST_F(DialogToolbarTest, ClickingIntoTheBrowserClosesTheIdleDialog) {
  addFavorite("local1");
  pressWith({"click 2010", "type 2006 99", "deactivate"});
  EXPECT_EQ(starting("dialog end "),
            (std::vector<std::string>{"dialog end window=1001 template=2000 result=2"}))
      << dump();
  // The click read "Auto synchronization" off; the period typed later was
  // never read.
  EXPECT_EQ(registryDword("sync_auto"), 0u);
  EXPECT_EQ(registryDword("sync_period"), 15u);
  EXPECT_EQ(favoriteNames(), (Names{"local1"}));
}

TEST_F(DialogToolbarTest, RegisterOpensTheSignUpPage) {
  pressWith({"click 2018", "click 1"});
  ASSERT_EQ(starting("navigate ").size(), 1u) << dump();
  EXPECT_NE(starting("navigate ")[0].find("/registration.jsp?action=Navigation&param=0"),
            std::string::npos)
      << dump();
}

TEST_F(DialogToolbarTest, EmptyServerFailsEveryPressAndReachesTheErrorWindow) {
  writeSettingsFile("server=\r\n");
  addFavorite("local1");
  pressWith({"type 2004 alice", "type 2005 s3cret pw", "click 2002", "click 2002", "click 1"});
  const std::string press =
      "messagebox caption=\"Settings Error\" text=\"Server should not be empty.\" buttons=ok "
      "icon=warning";
  const std::string close =
      "messagebox caption=\"Settings Error\" text=\"Server should not be empty.\\nPlease, use "
      "\\\"Synchronize now\\\" button to test\" buttons=ok icon=warning";
  EXPECT_EQ(starting("messagebox "), (std::vector<std::string>{press, press, close})) << dump();
  // Synchronize returned the validation message: the plug-in shows its icon.
  EXPECT_EQ(starting("icon add ").size(), 1u) << dump();
  EXPECT_EQ(favoriteNames(), (Names{"local1"}));
  EXPECT_TRUE(serviceNames().empty());
}

TEST_F(DialogToolbarTest, FailedPressThenSuccessfulPressIsApplied) {
  putAtService({"server1"});
  addFavorite("local1");
  pressWith({"type 2004 alice", "type 2005 wrong", "click 2002", "type 2005 s3cret pw",
             "click 2002", "click 1"});
  const auto boxes = starting("messagebox ");
  ASSERT_EQ(boxes.size(), 2u) << dump();
  EXPECT_EQ(boxes[0].rfind("messagebox caption=\"Error while synchronization\" ", 0), 0u);
  EXPECT_EQ(boxes[1], kSucceeded);
  EXPECT_EQ(favoriteNames(), (Names{"local1", "server1"}));
  EXPECT_TRUE(starting("icon add").empty()) << "the last press succeeded\n" << dump();
}

}  // namespace
