// A host killed at random points while it applies a large list to the
// Favorites folder, each time followed by a clean run: no bookmark is ever
// lost on the service, and the clean run leaves the Favorites equal to the
// service's list.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostProcess;
using testsupport::HostRun;

bool exited(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

class PluginKillTest : public PluginE2ETest {};

TEST_F(PluginKillTest, KilledAtRandomPointsOfALargeApplyLosesNothing) {
  // Under the sanitizers a fifth of the list: the same paths, far less time.
#if defined(__SANITIZE_ADDRESS__)
  constexpr int kFolders = 20;
#else
  constexpr int kFolders = 100;
#endif
  constexpr int kPerFolder = 20;
  constexpr int kPoints = 20;
  const unsigned seed = 20261210;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);

  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto home = computer(s);
  auto office = computer(s);
  std::set<std::string> expected;  // every name the service must keep
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = "F" + std::to_string(f);
    expected.insert(folder);
    for (int b = 0; b < kPerFolder; ++b) {
      const std::string name = folder + "B" + std::to_string(b);
      home->writeShortcut(folder + "/" + name, "http://example.org/" + folder + "/" + std::to_string(b));
      expected.insert(name);
    }
  }
  ASSERT_EQ(home->runHost("open\nquit\n").exitCode, 0);

  int midWrite = 0;
  for (int point = 0; point < kPoints; ++point) {
    SCOPED_TRACE("kill point " + std::to_string(point));
    // Each side adds a bookmark, so that the office's start-up run both
    // uploads and rewrites its whole folder.
    const std::string fromHome = "Home" + std::to_string(point);
    const std::string fromOffice = "Office" + std::to_string(point);
    home->writeShortcut(fromHome, "http://home.example/" + std::to_string(point));
    expected.insert(fromHome);
    HostRun homeRun = home->runHost("open\nquit\n");
    ASSERT_EQ(homeRun.exitCode, 0) << homeRun.joined();
    office->writeShortcut(fromOffice, "http://office.example/" + std::to_string(point));
    expected.insert(fromOffice);

    // The writer first deletes the folder's entries, then builds it anew:
    // progress runs from 0 to twice the number of entries. The host is
    // killed once it passes a random point of that.
    const size_t total = expected.size();
    const size_t target = std::uniform_int_distribution<size_t>(1, 2 * total - 1)(random);
    HostProcess host;
    ASSERT_TRUE(host.start(*office));
    size_t last = countEntries(office->favorites());
    bool deleting = false, rebuilding = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!exited(host.pid())) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the run never reached the point";
      // A small folder may be emptied between two looks: any growth is
      // the rebuilding.
      const size_t seen = countEntries(office->favorites());
      if (seen < last) deleting = true;
      if (seen > last) rebuilding = true;
      const size_t progress = rebuilding ? total + seen : deleting ? total - std::min(seen, total) : 0;
      if (progress >= target) break;
      last = seen;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    host.kill();
    const size_t left = countEntries(office->favorites());
    if (left < total) {
      ++midWrite;
      EXPECT_EQ(office->lastSync(), 0) << "an interrupted write is recorded as not written";
    }

    // Nothing is lost on the service, whatever the point.
    std::vector<std::string> stored = serviceNames();
    for (const std::string& name : expected) {
      if (name != fromOffice) {
        ASSERT_TRUE(std::binary_search(stored.begin(), stored.end(), name)) << name << " lost on the service";
      }
    }

    // The clean run restores the folder and agrees with the service.
    HostRun clean = office->runHost("open\nquit\n");
    ASSERT_EQ(clean.exitCode, 0) << clean.joined();
    stored = serviceNames();
    ASSERT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
    ASSERT_EQ(plainNames(office->favoriteNames()), stored);
    EXPECT_EQ(office->lastSync(), 1);
  }
  std::printf("%d of %d kills stopped the host in the middle of the write\n", midWrite, kPoints);
  EXPECT_GT(midWrite, 0) << "no kill came before the write had finished";
}

}  // namespace
}  // namespace plugintest
