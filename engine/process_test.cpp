// The engine as separate processes see it: libcorvex.so loaded by a program
// that knows only corvex.h, and several processes sharing the registry copy.
#include <gtest/gtest.h>

#include <memory>

#include "engine/child_process_test_support.h"
#include "engine/engine_test_support.h"

namespace corvex {
namespace {

using test::ChildProcess;
using test::EngineTest;

const std::string kBinDir = CORVEX_TEST_BIN_DIR;

class ProcessTest : public EngineTest {};

TEST_F(ProcessTest, HostProgramCallsEveryExport) {
  {
    ChildProcess host(kBinDir + "/corvex-client", {});
    ASSERT_TRUE(host.started());
    EXPECT_EQ(host.ask("SetRegisterFunc 0"), "done");
    EXPECT_EQ(host.ask("InitInstanceCount Explorer"), "done");
    EXPECT_EQ(host.ask("IncInstanceCount Explorer"), "done");
    EXPECT_EQ(host.ask("IncInstanceCount Explorer"), "done");
    EXPECT_EQ(host.ask("DecInstanceCount Explorer"), "done");
    EXPECT_EQ(host.ask("GetInstanceCount Explorer"), "1");
    EXPECT_EQ(host.ask("SyncEnabled Explorer 1"), "true");
    EXPECT_EQ(host.ask("SyncAfterStart Explorer"), "false");
    EXPECT_EQ(host.ask("SyncBeforeExit Explorer"), "true");
    EXPECT_EQ(host.ask("SyncAuto Explorer"), "true");
    EXPECT_EQ(host.ask("SyncInterval Explorer"), "15");
    EXPECT_EQ(host.ask("ShowErrorIcon Explorer"), "1");
    EXPECT_EQ(host.ask("SetSyncAuto Explorer 0"), "done");
    EXPECT_EQ(host.ask("SyncAuto Explorer"), "false");
    // No service runs on the default server: the procedure fails, data stays.
    EXPECT_EQ(host.ask("Synchronize 0 Explorer <bookmarks/>").rfind("false data=<bookmarks/> error=", 0), 0u);
    EXPECT_EQ(host.ask("SetRegisterFunc 1"), "done");
    host.send("quit");
    EXPECT_EQ(host.wait(), 0);
  }
  // Load wrote the first line, unload the settings file.
  const std::string log = logText();
  EXPECT_EQ(test::maskTimestamps(log).rfind("<stamp> LIBXML: Initialization performed\n", 0), 0u)
      << log;
  EXPECT_NE(log.find("Explorer: Application settings has been saved to "), std::string::npos);
  const std::string file = test::readFileText(settingsFile());
  EXPECT_NE(file.find("\r\nsync.auto=0\r\n"), std::string::npos) << file;
  EXPECT_EQ(dwordValue("inscount"), 1u);
}

TEST_F(ProcessTest, ReloadSeesAnotherProcessChange) {
  ChildProcess first(kBinDir + "/corvex-client", {});
  ChildProcess second(kBinDir + "/corvex-client", {});
  ASSERT_TRUE(first.started() && second.started());
  EXPECT_EQ(first.ask("SyncAuto Explorer"), "true");
  EXPECT_EQ(second.ask("SyncAuto Explorer"), "true");
  EXPECT_EQ(first.ask("SyncEnabled Explorer 0"), "true");

  // The second process switches the application off through the registry
  // copy: SetSyncAuto writes its whole set, so change it there first.
  createKey().setDword("enabled", 0);
  EXPECT_EQ(second.ask("SyncEnabled Explorer 1"), "false");
  EXPECT_EQ(second.ask("SetSyncAuto Explorer 0"), "done");

  EXPECT_EQ(first.ask("SyncAuto Explorer"), "true") << "in-memory until a reload";
  EXPECT_EQ(first.ask("SyncEnabled Explorer 0"), "true");
  EXPECT_EQ(first.ask("SyncEnabled Explorer 1"), "false");
  EXPECT_EQ(first.ask("SyncAuto Explorer"), "false");
}

TEST_F(ProcessTest, StartingProcessCopiesTheFileOverTheRegistry) {
  test::writeFileText(settingsFile(), "sync.auto=1\r\nsync.period=20\r\n");
  ChildProcess running(kBinDir + "/corvex-client", {});
  ASSERT_TRUE(running.started());
  EXPECT_EQ(running.ask("SetSyncAuto Explorer 0"), "done");  // registry only
  EXPECT_EQ(dwordValue("sync_auto"), 0u);

  ChildProcess starting(kBinDir + "/corvex-client", {});
  ASSERT_TRUE(starting.started());
  EXPECT_EQ(starting.ask("SyncAuto Explorer"), "true") << "the file of the last unload";
  EXPECT_EQ(dwordValue("sync_auto"), 1u) << "and it replaced the registry copy";
  EXPECT_EQ(running.ask("SyncEnabled Explorer 1"), "true");
  EXPECT_EQ(running.ask("SyncAuto Explorer"), "true") << "picked up at the next reload";
  EXPECT_EQ(running.ask("SyncInterval Explorer"), "20");
}

TEST_F(ProcessTest, ConcurrentWritersAndReadersSeeWholeSets) {
  std::vector<std::unique_ptr<ChildProcess>> hammers;
  for (const char* id : {"1", "2"}) {
    hammers.push_back(std::make_unique<ChildProcess>(kBinDir + "/engine-settings-hammer",
                                                     std::vector<std::string>{"400", id}));
    ASSERT_TRUE(hammers.back()->started());
  }
  for (auto& hammer : hammers) {
    std::string output = hammer->allOutput();
    EXPECT_EQ(hammer->wait(), 0) << output;
  }
}

}  // namespace
}  // namespace corvex
