// Faults of the computer beneath the plug-in while a run applies the
// service's list (a full disk or a denied file at the n-th shortcut, a
// registry that stops taking writes): the run reports the failure, and once
// the fault is gone the next run loses nothing and leaves the Favorites
// equal to the service's list.
#include <gtest/gtest.h>

#include <set>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

struct FaultCase {
  const char* label;
  const char* faults;    // QUORVANE_FAULTS of the failing run
  const char* shown;     // a text of the error window's entry; null: the run succeeds
};

const FaultCase kFaultCases[] = {
    {"disk full at the first shortcut", "file-write=112@.url", "Error while saving file "},
    {"disk full at the 18th shortcut", "file-write=112@.url#17", "Error while saving file "},
    {"disk full at the 50th shortcut", "file-write=112@.url#49", "Error while saving file "},
    {"access denied at the first shortcut", "file-write=5@.url", "Can not create file "},
    {"access denied at the 30th shortcut", "file-write=5@.url#29", "Can not create file "},
};

class PluginFaultTest : public PluginE2ETest {};

TEST_F(PluginFaultTest, ApplyFaultsLoseNothingOnceGone) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  std::set<std::string> expected;
  {
    auto other = computer(s);
    for (int f = 0; f < 3; ++f) {
      const std::string folder = "Folder" + std::to_string(f);
      expected.insert(folder);
      for (int b = 0; b < 20; ++b) {
        const std::string name = folder + "Site" + std::to_string(b);
        other->writeShortcut(folder + "/" + name, "http://" + name + ".example/");
        expected.insert(name);
      }
    }
    ASSERT_EQ(other->runHost("open\nquit\n").exitCode, 0);
  }

  int index = 0;
  for (const FaultCase& c : kFaultCases) {
    SCOPED_TRACE(c.label);
    auto pc = computer(s);
    const std::string own = "Own" + std::to_string(index++);
    pc->writeShortcut(own, "http://own.example/" + own);
    expected.insert(own);

    HostRun failed = pc->runHost("open\nui icon\nquit\n", {{"QUORVANE_FAULTS", c.faults}});
    ASSERT_EQ(failed.exitCode, 0) << failed.joined();
    const std::vector<std::string> entries = failed.grep({"id=201 kind=edit"});
    ASSERT_EQ(entries.size(), 1u) << failed.joined();
    EXPECT_NE(entries[0].find("Error while applying synchronization result:"), std::string::npos) << entries[0];
    EXPECT_NE(entries[0].find(c.shown), std::string::npos) << entries[0];
    EXPECT_EQ(failed.count("icon add"), 1u);
    EXPECT_EQ(pc->lastSync(), 0) << "a failed write is recorded as not written";
    // The engine's part of the run succeeded: the service has everything.
    std::vector<std::string> stored = serviceNames();
    ASSERT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));

    HostRun clean = pc->runHost("open\nquit\n");
    ASSERT_EQ(clean.exitCode, 0) << clean.joined();
    EXPECT_EQ(clean.count("icon add"), 0u) << clean.joined();
    EXPECT_EQ(pc->lastSync(), 1);
    stored = serviceNames();
    EXPECT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
    EXPECT_EQ(plainNames(pc->favoriteNames()), stored);
  }
}

// A registry that refuses every write from the n-th on during a run: the
// engine's settings copy, the browser's menu orders, or "lastsync". Without
// "lastsync" 0 stored first the engine is not called, so that a result can
// never be agreed without the record that it is not yet written.
TEST_F(PluginFaultTest, RegistryRefusingWritesLosesNothingOnceGone) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  std::set<std::string> expected = {"Shared", "Lark"};
  {
    auto other = computer(s);
    other->writeShortcut("Shared/Lark", "http://lark.example/");
    ASSERT_EQ(other->runHost("open\nquit\n").exitCode, 0);
  }
  for (unsigned passing : {0u, 1u, 2u, 3u, 5u}) {
    SCOPED_TRACE("writes that pass: " + std::to_string(passing));
    auto pc = computer(s);
    const std::string own = "Owl" + std::to_string(passing);
    pc->writeShortcut(own, "http://owl.example/");
    expected.insert(own);
    HostRun faulted = pc->runHost("open\nui icon\nquit\n",
                                  {{"QUORVANE_FAULTS", "registry-write=5@HKCU#" + std::to_string(passing)}});
    ASSERT_EQ(faulted.exitCode, 0) << faulted.joined();
    if (faulted.has("icon add")) {
      // "lastsync" could not be stored: nothing was sent or changed.
      EXPECT_TRUE(faulted.has("the registry value \\\"lastsync\\\" could not be stored")) << faulted.joined();
      EXPECT_EQ(faulted.count(kRunStarted), 0u) << faulted.joined();
      EXPECT_EQ(pc->favoriteNames(), (Names{own + ".url"}));
    } else {
      // Stored: a refused menu order or settings copy is no failure.
      EXPECT_EQ(plainNames(pc->favoriteNames()), serviceNames());
    }

    HostRun clean = pc->runHost("open\nquit\n");
    ASSERT_EQ(clean.exitCode, 0) << clean.joined();
    EXPECT_EQ(pc->lastSync(), 1);
    EXPECT_EQ(plainNames(pc->favoriteNames()), serviceNames());
  }
  const std::vector<std::string> stored = serviceNames();
  EXPECT_EQ(stored, std::vector<std::string>(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace plugintest
