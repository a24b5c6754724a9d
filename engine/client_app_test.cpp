#include "engine/client_app.h"

#include <gtest/gtest.h>

#include "engine/engine_test_support.h"
#include "engine/validation.h"

namespace corvex {
namespace {

using test::EngineTest;

class ClientAppTest : public EngineTest {};

TEST_F(ClientAppTest, FreshPrefixGivesTheDefaults) {
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(app->enabled, 1);
  EXPECT_EQ(app->appName, "Explorer");
  EXPECT_EQ(app->server, "localhost/data");
  EXPECT_EQ(app->serverPort, 80u);
  EXPECT_EQ(app->username, "username");
  EXPECT_EQ(app->password, "");
  EXPECT_EQ(app->syncAuto, 1);
  EXPECT_EQ(app->syncPeriod, 15u);
  EXPECT_EQ(app->syncAfterStart, 0);
  EXPECT_EQ(app->syncBeforeExit, 1);
  EXPECT_EQ(app->proxyAuth, 0);
  EXPECT_EQ(app->proxyUsername, "username");
  EXPECT_EQ(app->proxyPassword, "");
  EXPECT_EQ(app->errorIcon, 1);
  EXPECT_EQ(app->lastSyncTime, 0);
  EXPECT_EQ(app->registryKeyPath, "Software\\Veltrane Inc.\\Quorvane\\Explorer");
  EXPECT_EQ(app->name(), "Corvex_CliEntApp_RegisTry");
  EXPECT_EQ(validateSettings(*app), "");
  // Neither copy existed, so nothing was copied anywhere.
  EXPECT_FALSE(keyExists());
  EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(ClientAppTest, OneObjectPerNameUntilUnload) {
  ClientApp* explorer = getClientApp("Explorer");
  explorer->syncPeriod = 42;
  EXPECT_EQ(getClientApp("Explorer"), explorer);
  ClientApp* other = getClientApp("Other");
  EXPECT_NE(other, explorer);
  EXPECT_EQ(other->syncPeriod, 15u);
  ASSERT_EQ(clientAppRegistry().size(), 2u);
  EXPECT_EQ(clientAppRegistry().begin()->first, "Explorer");  // byte order

  destroyClientApps();
  EXPECT_TRUE(clientAppRegistry().empty());
  // Unload wrote each settings file with the in-memory values.
  EXPECT_NE(test::readFileText(settingsFile("Explorer")).find("sync.period=42\r\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(settingsFile("Other")));
  EXPECT_EQ(getClientApp("Explorer")->syncPeriod, 42u) << "the next engine reads the file";
}

TEST_F(ClientAppTest, FileValuesWinAndBecomeTheRegistryCopy) {
  {
    platform::RegKey key = createKey();
    key.setString("server", "registry.example/data");
    key.setDword("server_port", 81);
    key.setDword("sync_period", 99);
  }
  test::writeFileText(settingsFile(), "enabled=1\r\nserver.port=8080\r\n");
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(app->serverPort, 8080u);
  EXPECT_EQ(app->server, "localhost/data") << "the file has no server line: the default stands";
  EXPECT_EQ(app->syncPeriod, 15u);
  EXPECT_EQ(dwordValue("server_port"), 8080u);
  EXPECT_EQ(rawValue("server"), std::string("localhost/data", 15));
  EXPECT_EQ(dwordValue("sync_period"), 15u);
  EXPECT_NE(logText().find("Explorer: Application settings has been loaded successfully from "),
            std::string::npos);
}

TEST_F(ClientAppTest, EmptyFileCountsAsReadAndWritesTheDefaults) {
  test::writeFileText(settingsFile(), "");
  {
    platform::RegKey key = createKey();
    key.setDword("sync_period", 99);
  }
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(app->syncPeriod, 15u);
  EXPECT_EQ(dwordValue("sync_period"), 15u);
  EXPECT_EQ(dwordValue("enabled"), 1u);
  EXPECT_EQ(dwordValue("error_icon"), 1u);
}

TEST_F(ClientAppTest, WithoutAFileThePartialRegistryCopyCounts) {
  {
    platform::RegKey key = createKey();
    key.setDword("enabled", 0);
    key.setString("server", "example.org/quorvane");
  }
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(app->enabled, 0);
  EXPECT_EQ(app->server, "example.org/quorvane");
  EXPECT_EQ(app->serverPort, 80u);
  EXPECT_EQ(app->username, "username");
  EXPECT_EQ(app->syncPeriod, 15u);
  EXPECT_FALSE(keyExists("Other"));
  EXPECT_EQ(rawValue("server_port"), "<missing>") << "a registry read writes nothing back";
}

TEST_F(ClientAppTest, InvalidSettingsAreLoggedAtCreationAndKept) {
  test::writeFileText(settingsFile(), "sync.period=abc\r\n");
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(app->syncPeriod, 0u);
  EXPECT_NE(
      logText().find("Explorer: Can't set proxy settings, because validation has been failed: "
                     "Sync period should be greather than \"0\".\n"),
      std::string::npos);
}

TEST_F(ClientAppTest, InstanceCounterWrapsAndMissingReadsZero) {
  ClientApp* app = getClientApp("Explorer");
  EXPECT_EQ(readInstanceCount(*app), 0u);
  writeInstanceCount(*app, 0);
  EXPECT_EQ(readInstanceCount(*app), 0u);
  writeInstanceCount(*app, 0u - 1u);
  EXPECT_EQ(readInstanceCount(*app), 4294967295u);
  EXPECT_EQ(dwordValue("inscount"), 4294967295u);
  {
    platform::RegKey key = createKey();
    key.setString("inscount", "a longer text");  // does not fit 4 bytes
  }
  EXPECT_EQ(readInstanceCount(*app), 0u);
}

}  // namespace
}  // namespace corvex
