// The settings store when the system fails underneath it: a full disk, an
// unreadable file, a registry that cannot be read or written.
#include <gtest/gtest.h>

#include "engine/client_app.h"
#include "engine/corvex.h"
#include "engine/engine_test_support.h"
#include "platform/faults.h"

namespace corvex {
namespace {

using test::EngineTest;

class SettingsFaultsTest : public EngineTest {
 protected:
  void TearDown() override {
    platform::clearFaults();
    EngineTest::TearDown();
  }
};

TEST_F(SettingsFaultsTest, FullDiskAtUnloadIsLoggedAndTheRegistryKeepsTheValues) {
  getClientApp("Explorer")->syncPeriod = 45;
  SetSyncAuto("Explorer", 0);
  platform::injectFault(platform::FaultSite::FileWrite, platform::kDiskFull,
                        "bookmarks_Explorer.cfg");
  destroyClientApps();
  EXPECT_FALSE(std::filesystem::exists(settingsFile()));
  EXPECT_NE(logText().find("Explorer: Erorr while saving application settings to " +
                           settingsFile().string() + ".\n"),
            std::string::npos);
  platform::clearFaults();
  // The next engine finds no file and takes the registry copy.
  EXPECT_EQ(SyncInterval("Explorer"), 45);
  EXPECT_FALSE(SyncAuto("Explorer"));
}

// The file is replaced whole or not at all: a save that fails leaves the
// previous file as it was and no temporary file beside it.
TEST_F(SettingsFaultsTest, FullDiskAtUnloadLeavesThePreviousFileWhole) {
  const std::string previous = "enabled=1\r\nserver=previous/data\r\nsync.period=30\r\n";
  test::writeFileText(settingsFile(), previous);
  getClientApp("Explorer")->syncPeriod = 45;
  platform::injectFault(platform::FaultSite::FileWrite, platform::kDiskFull, "bookmarks_Explorer.cfg");
  destroyClientApps();
  platform::clearFaults();
  EXPECT_EQ(test::readFileText(settingsFile()), previous);
  for (const auto& entry : std::filesystem::directory_iterator(dataFolder())) {
    EXPECT_TRUE(entry.path().filename() == "bookmarks_Explorer.cfg" || entry.path().filename() == "bookmarks.log")
        << entry.path();
  }
}

TEST_F(SettingsFaultsTest, UnreadableFileFallsBackToTheRegistry) {
  test::writeFileText(settingsFile(), "sync.period=5\r\n");
  {
    platform::RegKey key = createKey();
    key.setDword("enabled", 1);
    key.setString("server", "registry/data");
  }
  platform::injectFault(platform::FaultSite::FileRead, platform::kAccessDenied,
                        "bookmarks_Explorer.cfg");
  EXPECT_EQ(SyncInterval("Explorer"), 15);
  EXPECT_EQ(getClientApp("Explorer")->server, "registry/data");
  EXPECT_EQ(logText().find("Application settings has been loaded"), std::string::npos);
}

TEST_F(SettingsFaultsTest, RegistryFailuresAreSilent) {
  SetSyncAuto("Explorer", 1);
  IncInstanceCount("Explorer");
  platform::injectFault(platform::FaultSite::RegistryWrite, platform::kAccessDenied);
  SetSyncAuto("Explorer", 0);
  EXPECT_FALSE(SyncAuto("Explorer")) << "the in-memory value changed";
  IncInstanceCount("Explorer");
  platform::clearFaults();
  EXPECT_EQ(dwordValue("sync_auto"), 1u) << "the registry copy did not";
  EXPECT_EQ(GetInstanceCount("Explorer"), 1ul);

  platform::injectFault(platform::FaultSite::RegistryRead, platform::kRegistryIo);
  EXPECT_EQ(GetInstanceCount("Explorer"), 0ul);
  EXPECT_TRUE(SyncEnabled("Explorer", true));
  EXPECT_FALSE(SyncAuto("Explorer")) << "a failed reload leaves the settings as they were";
}

}  // namespace
}  // namespace corvex
