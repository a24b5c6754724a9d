// A run stopped (the process killed from outside) while it applies a large
// list: the Favorites folder is untouched until the result is complete, and
// the next run loses nothing, on the service or here.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostProcess;
using testsupport::HostRun;

class PluginInterruptTest : public PluginE2ETest {};

TEST_F(PluginInterruptTest, KilledDuringTheWriteLosesNoBookmark) {
  constexpr int kFolders = 40;
  constexpr int kPerFolder = 50;
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;

  // The first computer puts a large list on the service.
  auto home = computer(s);
  for (int f = 0; f < kFolders; ++f) {
    for (int b = 0; b < kPerFolder; ++b) {
      const std::string name = "F" + std::to_string(f) + "/B" + std::to_string(b);
      home->writeShortcut(name, "http://example.org/" + std::to_string(f) + "/" + std::to_string(b));
    }
  }
  ASSERT_EQ(home->runHost("open\nquit\n").exitCode, 0);
  const size_t stored = serviceNames().size();
  ASSERT_EQ(stored, static_cast<size_t>(kFolders * (kPerFolder + 1)));

  // The second computer's start-up run receives it; the process dies while
  // the writer is filling the folder.
  auto office = computer(s);
  office->writeShortcut("Owl", "http://owl.example/");
  HostProcess host;
  ASSERT_TRUE(host.start(*office));
  const size_t total = stored + 1;
  const std::filesystem::path staged = office->favorites().parent_path() / "Favorites.apply" / "new";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  // The result is built beside the Favorites folder first.
  while (std::chrono::steady_clock::now() < deadline && countEntries(staged) <= 20) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  host.kill();
  const size_t built = countEntries(staged);
  ASSERT_GT(built, 20u) << "the apply never started";
  ASSERT_LT(built, total) << "the result was built before the process could be stopped";
  EXPECT_EQ(office->favoriteNames(), (Names{"Owl.url"})) << "the Favorites folder is untouched until the swap";
  EXPECT_EQ(office->lastSync(), 0) << "an interrupted apply is recorded as not written";

  // The next run unites the folder with the cache and clears the staging
  // area: nothing is lost, on the service or here.
  HostRun next = office->runHost("open\nquit\n");
  ASSERT_EQ(next.exitCode, 0) << next.joined();
  EXPECT_EQ(serviceNames().size(), total);
  EXPECT_EQ(countEntries(office->favorites()), total);
  EXPECT_EQ(office->lastSync(), 1);
  EXPECT_FALSE(std::filesystem::exists(staged.parent_path()));
}

}  // namespace
}  // namespace plugintest
