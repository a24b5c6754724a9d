// A host killed (SIGKILL) at random file operations of an apply of a large
// list, while it builds the result beside the Favorites folder and while it
// swaps it in, each time followed by a clean run: no bookmark is ever lost
// on the service, and the clean run leaves the Favorites equal to the
// service's list.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

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
  const unsigned seed = 20261211;
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
  ASSERT_EQ(office->runHost("open\nquit\n").exitCode, 0);

  int inBuild = 0, inSwap = 0;
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

    // The apply's file operations below "Favorites": three folders of the
    // staging area, one per folder and bookmark of the result, then the
    // renames of the swap: every read top-level entry out (all folders are
    // whole), every new one in. Half the points fall in the build, half in
    // the swap.
    const int rootItems = 2 * (point + 1);
    const int build = 3 + kFolders * (kPerFolder + 1) + rootItems;
    const int swap = 2 * kFolders + 2 * rootItems - 1;
    const bool inTheSwap = point % 2 == 1;
    const std::string fault =
        inTheSwap ? "file-move=kill@Favorites#" + std::to_string(std::uniform_int_distribution<int>(0, swap - 1)(random))
                  : "file-write=kill@Favorites#" + std::to_string(std::uniform_int_distribution<int>(0, build - 1)(random));
    HostRun killed = office->runHost("open\nquit\n", {{"QUORVANE_FAULTS", fault}});
    ASSERT_NE(killed.exitCode, 0) << "the run ended before " << fault << "\n" << killed.joined();
    ++(inTheSwap ? inSwap : inBuild);
    EXPECT_EQ(office->lastSync(), 0) << "an interrupted apply is recorded as not written";

    // Nothing is lost on the service, whatever the point.
    std::vector<std::string> stored = serviceNames();
    for (const std::string& name : expected) {
      ASSERT_TRUE(std::binary_search(stored.begin(), stored.end(), name)) << name << " lost on the service";
    }

    // The clean run restores the folder and agrees with the service.
    HostRun clean = office->runHost("open\nquit\n");
    ASSERT_EQ(clean.exitCode, 0) << clean.joined();
    stored = serviceNames();
    ASSERT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
    ASSERT_EQ(plainNames(office->favoriteNames()), stored);
    EXPECT_EQ(office->lastSync(), 1);
    EXPECT_FALSE(std::filesystem::exists(office->favorites().parent_path() / "Favorites.apply"));
  }
  std::printf("%d kills while the result was built, %d while it was swapped in\n", inBuild, inSwap);
}

}  // namespace
}  // namespace plugintest
