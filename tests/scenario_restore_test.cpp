// A list emptied by mistake and brought back by the administrator: one
// computer, its cache gone and its Favorites folder empty, takes its own
// list at a first synchronisation and so empties the service's list; the
// other computer follows and loses its bookmarks; "history" and "restore"
// of the service program bring them back on both at their next run.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/plugin_e2e_fixture.h"
#include "tests/scenario_support.h"

namespace plugintest {
namespace {

class RestoreScenarioTest : public PluginE2ETest {
 protected:
  // Runs the service program on the fixture's database; its output.
  std::string admin(const std::vector<std::string>& arguments, int expectedExit = 0) const {
    std::vector<std::string> command = {(testsupport::binaryDir() / "quorvane-service").string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    command.insert(command.end(), {"--database", service_.database().string()});
    std::string output;
    EXPECT_EQ(testsupport::runProgram(command, "", &output), expectedExit) << output;
    return output;
  }
};

// The rows of the history table as words: number, time stamp, items, bytes.
std::vector<std::vector<std::string>> historyRows(const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::vector<std::string> row;
    for (std::string word; words >> word;) row.push_back(word);
    if (row.size() == 4 && row[0] != "version") rows.push_back(row);
  }
  return rows;
}

TEST_F(RestoreScenarioTest, AListEmptiedByAFirstSynchronisationComesBackFromTheHistory) {
  const testsupport::PluginSettings s = startupSettings();
  auto office = computer(s);
  office->writeShortcut("Office", "https://office.example/");
  office->writeShortcut("News/Daily", "https://daily.example/");
  runHostOk(*office);
  auto home = computer(s);
  const testsupport::Environment privateEngine = usePrivateLibraries(*home);
  ASSERT_FALSE(privateEngine.empty());
  home->writeShortcut("Home", "https://home.example/");
  runHostOk(*home, "open\nquit\n", privateEngine);
  runHostOk(*office);
  const Names all = {"Home.url", "News/", "News/Daily.url", "Office.url"};
  ASSERT_EQ(office->favoriteNames(), all);
  ASSERT_EQ(home->favoriteNames(), all);

  // The damage: no cache, an empty Favorites folder and a method file that
  // takes the computer's own list.
  std::filesystem::remove(home->dataFolder() / "bookmarkscache_Explorer.xml");
  std::filesystem::remove_all(home->favorites());
  std::filesystem::create_directories(home->favorites());
  std::ofstream(home->prefix() / "lib" / "syncMethod.ini", std::ios::binary)
      << "firstSyncMethod1=0\r\nfirstSyncMethod2=0\r\nfirstSyncMethod3=1\r\n";
  runHostOk(*home, "open\nquit\n", privateEngine);
  EXPECT_TRUE(serviceNames().empty()) << serviceDocument();
  runHostOk(*office);
  EXPECT_TRUE(office->favoriteNames().empty());

  // The administrator looks for the newest version that held the
  // bookmarks. The engine replaces a list by a "remove" and a "put", so the
  // newest version is the empty list between the two, and the one before
  // it is the list the remove replaced.
  const std::string table = admin({"history", kUser});
  const auto rows = historyRows(table);
  ASSERT_GE(rows.size(), 3u) << table;
  EXPECT_EQ(rows[0][0], "current") << table;
  EXPECT_EQ(rows[0][2], "0") << table;
  EXPECT_EQ(rows[1][2], "0") << table;
  EXPECT_EQ(rows[2][2], "4") << table;  // News, Daily, Home, Office
  EXPECT_NE(table.find("quorvane-service restore alice NUMBER"), std::string::npos) << table;
  for (std::size_t i = 2; i < rows.size(); ++i) {
    EXPECT_LT(std::stoi(rows[i][0]), std::stoi(rows[i - 1][0])) << table;  // newest first
  }
  const std::vector<std::string> chosen = rows[2];
  const std::string restored = admin({"restore", kUser, chosen[0]});
  EXPECT_NE(restored.find("is the current list now"), std::string::npos) << restored;
  EXPECT_EQ(serviceNames(), (std::vector<std::string>{"Daily", "Home", "News", "Office"}));

  // Both computers get every bookmark back at their next run, and the list
  // they agree on is the restored one.
  runHostOk(*office);
  runHostOk(*home, "open\nquit\n", privateEngine);
  EXPECT_EQ(office->favoriteNames(), all);
  EXPECT_EQ(home->favoriteNames(), all);
  EXPECT_EQ(serviceNames(), (std::vector<std::string>{"Daily", "Home", "News", "Office"}));
  // The emptied list is kept as a version too, and the restored one stays.
  const auto after = historyRows(admin({"history", kUser}));
  bool emptiedKept = false, restoredKept = false;
  for (std::size_t i = 1; i < after.size(); ++i) {
    emptiedKept |= after[i][1] == rows[0][1] && after[i][2] == "0";
    restoredKept |= after[i][0] == chosen[0] && after[i][1] == chosen[1];
  }
  EXPECT_TRUE(emptiedKept);
  EXPECT_TRUE(restoredKept);
}

}  // namespace
}  // namespace plugintest
