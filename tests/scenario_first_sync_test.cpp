// The first synchronisation of a computer that already has bookmarks, with
// the service already holding another computer's list, under each method
// that "syncMethod.ini" beside the engine can choose.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/plugin_e2e_fixture.h"
#include "tests/scenario_support.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

class FirstSyncScenarioTest : public PluginE2ETest {};

TEST_F(FirstSyncScenarioTest, EachMethodOfTheMethodFile) {
  struct Row {
    const char* label;
    const char* methodFile;  // nullptr: no file
    Names favorites;         // of the new computer afterwards
    Names service;
  };
  const Row rows[] = {
      {"no file: merge", nullptr, {"Common.url", "Local only.url", "Server only.url"},
       {"Common", "Local only", "Server only"}},
      {"merge", "firstSyncMethod1=1\r\n", {"Common.url", "Local only.url", "Server only.url"},
       {"Common", "Local only", "Server only"}},
      {"take the server's", "[methods]\r\nfirstSyncMethod1=0\r\nfirstSyncMethod2 = 1\r\n",
       {"Common.url", "Server only.url"}, {"Common", "Server only"}},
      {"take the local", "firstSyncMethod1=0\r\nfirstSyncMethod2=0\r\nfirstSyncMethod3=1\r\n",
       {"Common.url", "Local only.url"}, {"Common", "Local only"}},
  };
  int account = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // Every row has an account of its own on the one service.
    testsupport::PluginSettings s = settings();
    s.username = "user" + std::to_string(++account);
    s.syncAfterStart = 1;
    ASSERT_TRUE(service_.addUser(s.username, kPassword));

    auto office = computer(s);
    office->writeShortcut("Common", "https://common.example/");
    office->writeShortcut("Server only", "https://server.example/");
    ASSERT_EQ(office->runHost("open\nquit\n").exitCode, 0);

    auto home = computer(s);
    const testsupport::Environment privateEngine = usePrivateLibraries(*home);
    ASSERT_FALSE(privateEngine.empty());
    const std::filesystem::path methodFile = home->prefix() / "lib" / "syncMethod.ini";
    if (row.methodFile) std::ofstream(methodFile, std::ios::binary) << row.methodFile;
    home->writeShortcut("Common", "https://common.example/");
    home->writeShortcut("Local only", "https://local.example/");

    HostRun run = home->runHost("open\nquit\n", privateEngine);
    ASSERT_EQ(run.exitCode, 0) << run.joined();
    ASSERT_EQ(run.count(kRunStarted), 1u) << run.joined();
    EXPECT_EQ(run.count("icon add"), 0u) << run.joined();
    if (!row.methodFile) {
      EXPECT_TRUE(run.has("Explorer: Error while opening file: " + methodFile.string())) << run.joined();
    }
    EXPECT_EQ(home->favoriteNames(), row.favorites);
    std::string stored;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", s.username,
                             "--database", service_.database().string()},
                            "", &stored);
    EXPECT_EQ(documentNames(stored), row.service) << stored;

    // The next run of the office computer brings it into line.
    ASSERT_EQ(office->runHost("open\nquit\n").exitCode, 0);
    EXPECT_EQ(office->favoriteNames(), row.favorites);
  }
}

}  // namespace
}  // namespace plugintest
