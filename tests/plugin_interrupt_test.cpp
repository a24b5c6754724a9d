// A run stopped while it rewrites the Favorites folder (the process killed)
// must not make the next run upload the half-written folder as the user's
// list: the bookmarks it misses would be deleted on the service and on every
// other computer.
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
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  size_t seen = 0;
  bool started = false;
  while (std::chrono::steady_clock::now() < deadline) {
    // The writer deletes the folder's shortcuts first, then builds it anew.
    seen = countEntries(office->favorites());
    if (!std::filesystem::exists(office->favorites() / "Owl.url") || seen > 1) started = true;
    if (started && seen > 20) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  host.kill();
  seen = countEntries(office->favorites());
  ASSERT_LT(seen, total) << "the write finished before the process could be stopped";
  EXPECT_EQ(office->lastSync(), 0) << "an interrupted write is recorded as not written";

  // The next run unites the half-written folder with the cache: nothing is
  // lost, on the service or here.
  HostRun next = office->runHost("open\nquit\n");
  ASSERT_EQ(next.exitCode, 0) << next.joined();
  EXPECT_EQ(serviceNames().size(), total);
  EXPECT_EQ(countEntries(office->favorites()), total);
  EXPECT_EQ(office->lastSync(), 1);
}

}  // namespace
}  // namespace plugintest
