// Two computers whose runs overlap: one has downloaded the service's list
// when the other runs from start to end, and only then merges and uploads.
// Its upload was built on a list that is no longer the service's; what the
// other computer uploaded in between must survive it.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "tests/plugin_e2e_fixture.h"
#include "tests/support/relay.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

constexpr char kOpen[] = "open\nui icon\nquit\n";

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

class OverlapTest : public PluginE2ETest {};

TEST_F(OverlapTest, AnUploadBuiltOnAnOlderListKeepsWhatTheOtherComputerAdded) {
  testsupport::Relay relay(service_.port());
  ASSERT_NE(relay.port(), 0);
  auto a = computer(startupSettings());
  testsupport::PluginSettings viaRelay = startupSettings();
  viaRelay.port = relay.port();
  auto b = computer(viaRelay);

  // A and B agree on one bookmark.
  a->writeShortcut("Shared", "http://shared.example/");
  runHostOk(*a, kOpen);
  runHostOk(*b, kOpen);
  ASSERT_EQ(plainNames(b->favoriteNames()), Names{"Shared"});
  relay.takeEvents();

  a->writeShortcut("FromA", "http://from-a.example/");
  b->writeShortcut("FromB", "http://from-b.example/");

  // B's download is answered by the service and held; A runs from start to
  // end meanwhile; then B's run goes on with the list it downloaded.
  relay.holdNextDownload();
  HostRun bRun;
  std::thread bSession([&] { bRun = b->runHost(kOpen); });
  const bool held = relay.waitUntilHeld();
  HostRun aRun;
  if (held) aRun = a->runHost(kOpen);
  relay.release();
  bSession.join();
  ASSERT_TRUE(held) << "B's run never downloaded:\n" << bRun.joined();
  EXPECT_EQ(aRun.exitCode, 0) << aRun.joined();
  EXPECT_FALSE(aRun.has("icon add")) << aRun.joined();
  EXPECT_EQ(bRun.exitCode, 0) << bRun.joined();
  EXPECT_FALSE(bRun.has("icon add")) << bRun.joined();
  const std::string bRequests = joined(relay.takeEvents());

  const Names afterOverlap = serviceNames();
  EXPECT_TRUE(holds(afterOverlap, "FromA"))
      << "FromA, uploaded by A while B's run was between its download and its upload, is no longer "
         "on "
         "the service: B's upload, built on the list B downloaded before, replaced A's list. B's "
         "requests: "
      << bRequests;

  // Both run again, each twice: the lists settle.
  for (int round = 0; round < 2; ++round) {
    runHostOk(*a, kOpen);
    runHostOk(*b, kOpen);
  }
  const Names expected = {"FromA", "FromB", "Shared"};
  EXPECT_EQ(serviceNames(), expected) << "B's requests in the overlap: " << bRequests;
  EXPECT_EQ(plainNames(a->favoriteNames()), expected)
      << "A's next run took FromA for deleted on the service and deleted it here too";
  EXPECT_EQ(plainNames(b->favoriteNames()), expected);
}

}  // namespace
}  // namespace plugintest
