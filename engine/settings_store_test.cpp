// The two persisted copies of the settings: the file and the registry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <vector>

#include "engine/client_app.h"
#include "engine/engine_test_support.h"
#include "engine/scramble.h"
#include "engine/settings_file.h"
#include "engine/settings_registry.h"
#include "engine/settings_text.h"

namespace corvex {
namespace {

using test::EngineTest;

class SettingsStoreTest : public EngineTest {
 protected:
  // Every field away from its default; credentials with bytes above 127.
  static void fillIn(ClientApp& app) {
    app.enabled = 0;
    app.server = "sync.example.org/data/v2";
    app.serverPort = 8080;
    app.username = "j\xfcrgen";
    app.password = std::string(61, '\xff');
    app.syncAuto = 0;
    app.syncPeriod = 30;
    app.syncAfterStart = 1;
    app.syncBeforeExit = 0;
    app.proxyAuth = 1;
    app.proxyUsername = "proxy user";
    app.proxyPassword = "p;4\x80";
    app.errorIcon = 7;
  }
  static void expectSame(const ClientApp& a, const ClientApp& b) {
    EXPECT_EQ(a.enabled, b.enabled);
    EXPECT_EQ(a.server, b.server);
    EXPECT_EQ(a.serverPort, b.serverPort);
    EXPECT_EQ(a.username, b.username);
    EXPECT_EQ(a.password, b.password);
    EXPECT_EQ(a.syncAuto, b.syncAuto);
    EXPECT_EQ(a.syncPeriod, b.syncPeriod);
    EXPECT_EQ(a.syncAfterStart, b.syncAfterStart);
    EXPECT_EQ(a.syncBeforeExit, b.syncBeforeExit);
    EXPECT_EQ(a.proxyAuth, b.proxyAuth);
    EXPECT_EQ(a.proxyUsername, b.proxyUsername);
    EXPECT_EQ(a.proxyPassword, b.proxyPassword);
    EXPECT_EQ(a.errorIcon, b.errorIcon);
  }
};

TEST_F(SettingsStoreTest, FileHoldsTheLinesInOrderAndReadsBack) {
  ClientApp written("Explorer");
  fillIn(written);
  ASSERT_TRUE(saveSettingsFile(written));
  const std::string text = test::readFileText(settingsFile());
  // Scrambled values show as their length.
  std::string shape;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
    std::string line = text.substr(start, end - start);
    size_t eq = line.find('=');
    std::string key = line.substr(0, eq);
    bool scrambled = key == "username" || key == "password" || key == "proxy.username" ||
                     key == "proxy.password";
    shape += scrambled ? key + "=<" + std::to_string(line.size() - eq - 1) + ">\n" : line + "\n";
    start = end + 2;
  }
  EXPECT_EQ(shape,
            "enabled=0\nserver=sync.example.org/data/v2\nserver.port=8080\nusername=<128>\n"
            "password=<130>\nsync.auto=0\nsync.period=30\nsync.afterstart=1\nsync.beforeexit=0\n"
            "proxy.auth=1\nproxy.username=<128>\nproxy.password=<128>\nerroricon=7\n");
  EXPECT_EQ(text.find("j\xfcrgen"), std::string::npos) << "credentials are never in clear";

  struct stat st;
  ASSERT_EQ(stat(settingsFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(dataFolder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  ClientApp read("Explorer");
  ASSERT_TRUE(loadSettingsFile(read));
  expectSame(read, written);
  EXPECT_NE(logText().find("Explorer: Application settings has been saved to " +
                           settingsFile().string() + ".\n"),
            std::string::npos);
}

TEST_F(SettingsStoreTest, EmptyValuesAreLeftOutOfTheFile) {
  ClientApp app("Explorer");
  app.server.clear();
  app.username.clear();
  app.proxyUsername.clear();
  app.serverPort = 4294967295u;  // written as signed decimal
  std::string text = settingsFileText(app);
  EXPECT_EQ(text,
            "enabled=1\r\nserver.port=-1\r\nsync.auto=1\r\nsync.period=15\r\nsync.afterstart=0\r\n"
            "sync.beforeexit=1\r\nproxy.auth=0\r\nerroricon=1\r\n");
  ClientApp read("Explorer");
  applySettingsFileText(text, read);
  EXPECT_EQ(read.serverPort, 4294967295u);
  EXPECT_EQ(read.username, "username") << "a missing line leaves the field as it was";
}

TEST_F(SettingsStoreTest, FileReadingFollowsTheKeyRules) {
  ClientApp app("Explorer");
  app.password = "kept";
  applySettingsFileText(
      "enabled=5\r\nsync.period  =  30 \r\nproxy.password=" + scrambleCredential("proxy secret") +
          "\r\npassword=\r\nusername=" + "not a scrambled text\r\nerroricon = -3\r\n",
      app);
  EXPECT_EQ(app.enabled, 5);
  EXPECT_EQ(app.syncPeriod, 30u);
  EXPECT_EQ(app.password, "kept") << "an empty credential value changes nothing";
  EXPECT_EQ(app.proxyPassword, "proxy secret");
  EXPECT_EQ(app.username, "") << "a malformed credential reads as empty";
  EXPECT_EQ(app.errorIcon, -3);
}

TEST_F(SettingsStoreTest, MissingOrUnreadableFileIsSilent) {
  ClientApp app("Explorer");
  EXPECT_FALSE(loadSettingsFile(app));
  std::filesystem::create_directories(settingsFile());  // a folder in its place
  EXPECT_FALSE(loadSettingsFile(app));
  EXPECT_EQ(logText().find("Application settings has been"), std::string::npos);

  EXPECT_FALSE(saveSettingsFile(app));
  EXPECT_NE(logText().find("Explorer: Erorr while saving application settings to " +
                           settingsFile().string() + ".\n"),
            std::string::npos);
}

TEST_F(SettingsStoreTest, RegistryCopyRoundTripsScrambled) {
  ClientApp written("Explorer");
  fillIn(written);
  written.password.clear();
  saveSettingsToRegistry(written);

  EXPECT_EQ(dwordValue("enabled"), 0u);
  EXPECT_EQ(rawValue("server"), std::string("sync.example.org/data/v2", 25));
  EXPECT_EQ(dwordValue("server_port"), 8080u);
  EXPECT_EQ(dwordValue("error_icon"), 7u);
  EXPECT_EQ(rawValue("password"), std::string(1, '\0')) << "empty credential: the empty text";
  std::string username = rawValue("username");
  ASSERT_EQ(username.size(), 129u);
  EXPECT_EQ(unscrambleCredential(username.substr(0, 128)), "j\xfcrgen");

  ClientApp read("Explorer");
  read.password = "to be emptied";
  EXPECT_TRUE(loadSettingsFromRegistry(read));
  expectSame(read, written);
}

TEST_F(SettingsStoreTest, RegistryReadStopsAtTheFirstMissingOrOversizedValue) {
  {
    platform::RegKey key = createKey();
    key.setDword("enabled", 0);
    key.setString("server", "first/data");
    key.setDword("server_port", 81);
    key.setString("username", std::string(1100, 'A'));  // beyond the 1024-byte buffer
    key.setDword("sync_period", 5);
  }
  ClientApp app("Explorer");
  EXPECT_FALSE(loadSettingsFromRegistry(app));
  EXPECT_EQ(app.enabled, 0);
  EXPECT_EQ(app.server, "first/data");
  EXPECT_EQ(app.serverPort, 81u);
  EXPECT_EQ(app.username, "username");
  EXPECT_EQ(app.syncPeriod, 15u) << "values after the failing one are not read";

  ClientApp other("Missing");
  EXPECT_FALSE(loadSettingsFromRegistry(other));
  EXPECT_EQ(other.server, "localhost/data");
}

}  // namespace
}  // namespace corvex
