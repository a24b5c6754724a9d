// Applying the service's list on a computer that fails beneath the plug-in:
// a disk that fills at any file operation of the apply (injected, and a real
// small file system), a registry that stops taking writes, a Favorites
// folder that is missing, an apply stopped by a kill and followed by a
// service that is down. Every case ends with a clean run once the fault is
// gone, after which the service and every computer hold every bookmark:
// none lost, none duplicated.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostRun;
using Set = std::set<std::string>;

constexpr char kOpen[] = "open\nquit\n";
constexpr char kOpenShowingErrors[] = "open\nui icon\nquit\n";
constexpr char kApplyError[] = "Error while applying synchronization result:";

class PluginApplyTest : public PluginE2ETest {
 protected:
  // Another computer puts folders F0... with `each` bookmarks and `root`
  // bookmarks beside them on the service; the names it stored.
  Set putList(int folders, int each, int root) {
    Set names;
    other_ = computer(startupSettings());
    for (int f = 0; f < folders; ++f) {
      const std::string folder = "F" + std::to_string(f);
      names.insert(folder);
      for (int b = 0; b < each; ++b) {
        const std::string name = folder + "B" + std::to_string(b);
        other_->writeShortcut(folder + "/" + name, "http://" + name + ".example/");
        names.insert(name);
      }
    }
    for (int b = 0; b < root; ++b) {
      const std::string name = "R" + std::to_string(b);
      other_->writeShortcut(name, "http://" + name + ".example/");
      names.insert(name);
    }
    runHostOk(*other_);
    return names;
  }

  // A computer that has synchronised once, with a bookmark of its own.
  std::unique_ptr<testsupport::HostComputer> synchronisedComputer(Set* expected) {
    auto pc = computer(startupSettings());
    pc->writeShortcut("Own", "http://own.example/");
    expected->insert("Own");
    runHostOk(*pc);
    return pc;
  }

  // A run with the faults whose apply fails: the Favorites folder as it
  // was, "lastsync" 0, no staging folder left. The run, for its messages.
  HostRun failedApply(const testsupport::HostComputer& pc, const std::string& faults) {
    const std::vector<std::string> before = pc.favoriteNames();
    HostRun faulted = runHostOk(pc, kOpenShowingErrors, {{"QUORVANE_FAULTS", faults}});
    EXPECT_TRUE(faulted.has(kApplyError)) << faulted.joined();
    EXPECT_EQ(pc.favoriteNames(), before);
    EXPECT_EQ(pc.lastSync(), 0);
    EXPECT_FALSE(std::filesystem::exists(staging(pc)));
    return faulted;
  }

  // The run after a fault is gone: no error, "lastsync" 1, and the service
  // and this computer hold exactly `expected`.
  void cleanRunConverges(const testsupport::HostComputer& pc, const Set& expected) {
    HostRun clean = runHostOk(pc, kOpenShowingErrors);
    EXPECT_FALSE(clean.has("icon add")) << clean.joined();
    EXPECT_EQ(pc.lastSync(), 1);
    const std::vector<std::string> stored = serviceNames();
    ASSERT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
    ASSERT_EQ(plainNames(pc.favoriteNames()), stored);
  }

  // The service holds exactly `expected`, and so does every computer's
  // Favorites folder after a clean run of the other computer.
  void expectEverywhere(const Set& expected, const testsupport::HostComputer& pc) {
    const std::vector<std::string> stored = serviceNames();
    EXPECT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
    EXPECT_EQ(plainNames(pc.favoriteNames()), stored) << "on " << pc.prefix();
    if (other_) {
      runHostOk(*other_);
      EXPECT_EQ(plainNames(other_->favoriteNames()), stored) << "on the other computer";
    }
  }

  static void setLastSyncZero(const testsupport::HostComputer& pc) {
    ASSERT_EQ(pc.reg({"add", kPluginKey, "/v", "lastsync", "/t", "REG_DWORD", "/d", "0", "/f"}).exitCode, 0);
  }

  static std::filesystem::path staging(const testsupport::HostComputer& pc) {
    return pc.favorites().parent_path() / "Favorites.apply";
  }

  std::unique_ptr<testsupport::HostComputer> other_;
};

// Disk full from the n-th file operation of the apply on (a folder, a
// shortcut file or a staging folder that cannot be written): each failing
// run leaves the folder as it was and "lastsync" 0; each clean run after
// it converges.
TEST_F(PluginApplyTest, DiskFullAtEachOfTheFirst50FileOperations) {
  Set expected = putList(3, 15, 5);
  auto pc = synchronisedComputer(&expected);
  expectEverywhere(expected, *pc);
  for (int n = 0; n < 50; ++n) {
    SCOPED_TRACE("disk full from file operation " + std::to_string(n + 1));
    // A result to apply: the record says that the last one was not written,
    // so the whole folder is written again.
    setLastSyncZero(*pc);
    // 3 staging folders, then 3 folders and 51 bookmarks: every one of the
    // first 50 operations is needed.
    HostRun faulted = failedApply(*pc, "file-write=112@Favorites#" + std::to_string(n));
    // A folder fails with the system's text, a shortcut file with the
    // plug-in's own.
    EXPECT_TRUE(faulted.has("There is not enough space on the disk.") || faulted.has("Error while saving file "))
        << faulted.joined();

    cleanRunConverges(*pc, expected);
  }
  expectEverywhere(expected, *pc);
}

// A rename of the swap refused once (a folder open in another program): the
// renames done are undone, the folder is as it was.
TEST_F(PluginApplyTest, ARefusedRenameUndoesTheSwap) {
  Set expected = putList(3, 2, 3);
  auto pc = synchronisedComputer(&expected);
  // 3 folders and 4 files out, as many in.
  for (int n = 0; n < 14; ++n) {
    SCOPED_TRACE("rename " + std::to_string(n + 1) + " refused");
    setLastSyncZero(*pc);
    failedApply(*pc, "file-move=5@Favorites#" + std::to_string(n) + ":1");
    cleanRunConverges(*pc, expected);
  }
  expectEverywhere(expected, *pc);
}

// The same on a real file system that fills up: a small tmpfs mounted over
// the computer's profile (the Favorites folder and the data folder with the
// cache and the log).
TEST_F(PluginApplyTest, AFullSmallFileSystemLeavesTheFolderAsItWas) {
  if (geteuid() != 0) GTEST_SKIP() << "skipped: mounting a small file system needs root";
  Set expected = putList(4, 10, 10);
  auto pc = synchronisedComputer(&expected);

  const std::filesystem::path profile = pc->prefix() / "profile";
  const std::filesystem::path saved = pc->prefix() / "profile.saved";
  std::filesystem::rename(profile, saved);
  std::filesystem::create_directory(profile);
  if (::mount("tmpfs", profile.c_str(), "tmpfs", 0, "size=4m") != 0) {
    std::filesystem::remove(profile);
    std::filesystem::rename(saved, profile);
    GTEST_SKIP() << "skipped: mounting a tmpfs is not permitted here (" << std::strerror(errno) << ")";
  }
  struct Unmount {
    std::filesystem::path at;
    ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
  } unmount{profile};
  std::filesystem::copy(saved, profile, std::filesystem::copy_options::recursive);

  // The other computer adds to the list, so that the next run applies it.
  for (int b = 0; b < 10; ++b) {
    const std::string name = "More" + std::to_string(b);
    other_->writeShortcut(name, "http://" + name + ".example/");
    expected.insert(name);
  }
  runHostOk(*other_);

  // All but 32 KiB taken: too little for the result.
  struct statvfs fs {};
  ASSERT_EQ(::statvfs(profile.c_str(), &fs), 0);
  const uint64_t fill = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize - 32 * 1024;
  {
    std::ofstream filler(profile / "filler", std::ios::binary);
    const std::string block(1 << 16, 'x');
    for (uint64_t written = 0; written + block.size() <= fill; written += block.size()) filler << block;
  }
  failedApply(*pc, "");

  std::filesystem::remove(profile / "filler");
  HostRun clean = runHostOk(*pc);
  EXPECT_FALSE(clean.has(kApplyError)) << clean.joined();
  EXPECT_EQ(pc->lastSync(), 1);
  expectEverywhere(expected, *pc);
}

// The registry refusing writes from the n-th on (the first "lastsync"
// write among them), on a disk that is full as well.
TEST_F(PluginApplyTest, RegistryRefusingWritesOnAFullDisk) {
  Set expected = putList(2, 4, 3);
  auto pc = synchronisedComputer(&expected);
  for (unsigned passing : {0u, 1u, 2u, 3u, 4u, 6u}) {
    SCOPED_TRACE("registry writes that pass: " + std::to_string(passing));
    const std::string name = "Other" + std::to_string(passing);
    other_->writeShortcut(name, "http://" + name + ".example/");
    expected.insert(name);
    runHostOk(*other_);

    const std::vector<std::string> before = pc->favoriteNames();
    HostRun faulted = runHostOk(
        *pc, kOpenShowingErrors,
        {{"QUORVANE_FAULTS", "registry-write=5@HKCU#" + std::to_string(passing) + ";file-write=112"}});
    EXPECT_TRUE(faulted.has("icon add")) << faulted.joined();
    EXPECT_EQ(pc->favoriteNames(), before);

    cleanRunConverges(*pc, expected);
  }
  expectEverywhere(expected, *pc);
}

// A registry that refuses every write while "lastsync" is already 0 (a
// failed apply before): the 0 that is there is the record the run needs, so
// the run goes on and applies; the record stays 0 until it can be written.
TEST_F(PluginApplyTest, ARefusingRegistryWithTheRecordAlreadyZeroStillApplies) {
  Set expected = putList(2, 3, 2);
  auto pc = synchronisedComputer(&expected);
  const std::string name = "Later";
  other_->writeShortcut(name, "http://later.example/");
  expected.insert(name);
  runHostOk(*other_);
  setLastSyncZero(*pc);

  HostRun refused = runHostOk(*pc, kOpenShowingErrors, {{"QUORVANE_FAULTS", "registry-write=5@HKCU"}});
  EXPECT_EQ(refused.count(kRunStarted), 1u) << refused.joined();
  EXPECT_EQ(refused.count("icon add"), 0u) << refused.joined();
  EXPECT_EQ(pc->lastSync(), 0);
  EXPECT_EQ(plainNames(pc->favoriteNames()), std::vector<std::string>(expected.begin(), expected.end()));

  cleanRunConverges(*pc, expected);
  expectEverywhere(expected, *pc);
}

// A Favorites folder that is gone (a drive not there): the automatic run
// fails without sending anything, the button says so, nothing is created.
TEST_F(PluginApplyTest, AMissingFavoritesFolderSendsNothingAndIsNotCreated) {
  Set expected = putList(2, 3, 2);
  auto pc = synchronisedComputer(&expected);
  const std::filesystem::path away = pc->prefix() / "Favorites.away";
  std::filesystem::rename(pc->favorites(), away);

  HostRun automatic = runHostOk(*pc, kOpenShowingErrors);
  EXPECT_EQ(automatic.count(kRunStarted), 0u) << automatic.joined();
  EXPECT_TRUE(automatic.has("The system cannot find the path specified.")) << automatic.joined();
  EXPECT_EQ(automatic.count("icon add"), 1u) << automatic.joined();
  HostRun interactive = runHostOk(*pc, "open\npress 1\nquit\n");
  EXPECT_TRUE(interactive.has("text=\"Can not find Favorites folder.\"")) << interactive.joined();
  EXPECT_EQ(interactive.count(kRunStarted), 0u) << interactive.joined();
  EXPECT_FALSE(std::filesystem::exists(pc->favorites()));
  EXPECT_EQ(serviceNames(), std::vector<std::string>(expected.begin(), expected.end()));

  std::filesystem::rename(away, pc->favorites());
  HostRun clean = runHostOk(*pc);
  EXPECT_FALSE(clean.has("icon add")) << clean.joined();
  expectEverywhere(expected, *pc);
}

// An apply killed in the middle of its swap, then a run while the service
// is down, then one with it back: the failed run keeps the record that the
// folder is half-written, so the last run still recovers it.
TEST_F(PluginApplyTest, InterruptedThenServiceDownThenBack) {
  Set expected = putList(3, 10, 5);
  auto pc = computer(startupSettings());
  pc->writeShortcut("Own", "http://own.example/");
  expected.insert("Own");
  // The swap moves Own.url out, then the 9 top-level items in, in the order
  // of their names: killed after F0, F1 and F2 are in.
  HostRun killed = pc->runHost(kOpen, {{"QUORVANE_FAULTS", "file-move=kill@Favorites#4"}});
  ASSERT_NE(killed.exitCode, 0) << killed.joined();
  EXPECT_EQ(pc->lastSync(), 0);
  const std::vector<std::string> halfWritten = pc->favoriteNames();
  EXPECT_LT(halfWritten.size(), expected.size()) << "the kill came after the swap";

  const unsigned short port = service_.port();
  service_.stop();
  HostRun down = runHostOk(*pc, kOpenShowingErrors);
  EXPECT_TRUE(down.has("Can't connect.")) << down.joined();
  EXPECT_EQ(pc->lastSync(), 0) << "a run without a result keeps the record";
  EXPECT_EQ(pc->favoriteNames(), halfWritten);

  ASSERT_TRUE(service_.start(port));
  HostRun back = runHostOk(*pc);
  EXPECT_FALSE(back.has(kApplyError)) << back.joined();
  EXPECT_EQ(pc->lastSync(), 1);
  expectEverywhere(expected, *pc);
}

}  // namespace
}  // namespace plugintest
