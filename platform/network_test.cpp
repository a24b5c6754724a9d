#include "platform/network.h"

#include <gtest/gtest.h>

#include "tests/support/temp_prefix.h"

namespace {

TEST(ConnectedState, SwitchesWithTheOfflineMarkerAtRunTime) {
  testsupport::TempPrefix prefix;
  uint32_t flags = 0;
  std::string name;
  EXPECT_TRUE(platform::internetConnectedState(&flags, &name));
  EXPECT_EQ(flags, platform::kInternetConnectionLan | platform::kInternetConnectionConfigured);
  EXPECT_EQ(name, "LAN Connection");

  ASSERT_TRUE(platform::setInternetOffline(true));
  EXPECT_TRUE(std::filesystem::exists(prefix.path() / "run" / "offline"));
  EXPECT_FALSE(platform::internetConnectedState(&flags));
  EXPECT_EQ(flags, platform::kInternetConnectionOffline);

  ASSERT_TRUE(platform::setInternetOffline(false));
  EXPECT_TRUE(platform::internetConnectedState(nullptr));
}

TEST(ConnectedState, NameIsCutToTheCallersBuffer) {
  testsupport::TempPrefix prefix;
  std::string name;
  platform::internetConnectedState(nullptr, &name, 4);
  EXPECT_EQ(name, "LAN");
}

}  // namespace
