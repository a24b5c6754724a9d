// Scenarios of everyday use: two or three computers (prefixes) with the
// plug-in registered, one reference service, and the browser stand-in
// synchronising each in turn. What each computer's Favorites folder and the
// service's stored list hold afterwards is what the user would see.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostComputer;
using testsupport::HostProcess;
using testsupport::HostRun;

constexpr char kStartupSession[] = "open\nquit\n";
constexpr char kIconAdded[] = "icon add owner=";
constexpr char kIconRemoved[] = "icon delete owner=";

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ScenarioTest : public PluginE2ETest {
 protected:
  // Computers synchronise when their browser starts; nothing runs at exit.
  testsupport::PluginSettings startupSettings() const {
    testsupport::PluginSettings s = settings();
    s.syncAfterStart = 1;
    return s;
  }

  std::unique_ptr<HostComputer> startupComputer() { return computer(startupSettings()); }

  // One browser session with its start-up run, which must succeed silently.
  HostRun synchronise(const HostComputer& pc) {
    HostRun run = pc.runHost(kStartupSession);
    EXPECT_EQ(run.exitCode, 0) << run.joined();
    EXPECT_EQ(run.count(kRunStarted), 1u) << run.joined();
    EXPECT_EQ(run.count("Sychronization has been finished with"), 0u) << run.joined();
    EXPECT_EQ(run.count(kIconAdded), 0u) << run.joined();
    return run;
  }

  std::string serviceDocument() const {
    std::string output;
    testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", kUser,
                             "--database", service_.database().string()},
                            "", &output);
    return output;
  }

  // The service's names in favoriteNames() form, for comparing with a
  // computer: the same multiset of names, each bookmark once.
  static size_t nameCount(const std::string& document, const std::string& name) {
    std::vector<std::string> names = documentNames(document);
    return static_cast<size_t>(std::count(names.begin(), names.end(), name));
  }
};

TEST_F(ScenarioTest, AdditionsOnEverySideReachEveryComputer) {
  auto home = startupComputer();
  auto office = startupComputer();
  auto laptop = startupComputer();
  home->writeShortcut("Common/Debian", "https://www.debian.org/");
  synchronise(*home);
  synchronise(*office);
  synchronise(*laptop);

  home->writeShortcut("Common/Home news", "https://home.example/news");
  office->writeShortcut("Work/Dashboard", "https://ci.example/");
  laptop->writeShortcut("Travel", "https://rail.example/");
  laptop->writeShortcut("Common/Laptop notes", "https://notes.example/");
  for (HostComputer* pc : {home.get(), office.get(), laptop.get(), home.get(), office.get()}) synchronise(*pc);

  const Names all = {"Common/",           "Common/Debian.url", "Common/Home news.url", "Common/Laptop notes.url",
                     "Travel.url",        "Work/",             "Work/Dashboard.url"};
  EXPECT_EQ(home->favoriteNames(), all);
  EXPECT_EQ(office->favoriteNames(), all);
  EXPECT_EQ(laptop->favoriteNames(), all);
  EXPECT_EQ(serviceNames(), (Names{"Common", "Dashboard", "Debian", "Home news", "Laptop notes", "Travel", "Work"}));
}

// A deletion wins over an edit of the same bookmark made elsewhere: the
// bookmark was in the last agreed state, and one side no longer has it.
TEST_F(ScenarioTest, DeletionOnOneSideWinsOverAnEditOnTheOther) {
  auto home = startupComputer();
  auto office = startupComputer();
  home->writeShortcut("Shop", "https://shop.example/");
  home->writeShortcut("Keep", "https://keep.example/");
  synchronise(*home);
  synchronise(*office);
  ASSERT_EQ(office->favoriteNames(), (Names{"Keep.url", "Shop.url"}));

  std::filesystem::remove(home->favorites() / "Shop.url");
  office->writeShortcut("Shop", "https://shop.example/sale");
  synchronise(*home);
  synchronise(*office);

  EXPECT_EQ(home->favoriteNames(), (Names{"Keep.url"}));
  EXPECT_EQ(office->favoriteNames(), (Names{"Keep.url"}));
  EXPECT_EQ(serviceNames(), (Names{"Keep"}));
}

// An edit that meets no deletion travels: the changed link arrives.
TEST_F(ScenarioTest, AnEditedLinkReachesTheOtherComputer) {
  auto home = startupComputer();
  auto office = startupComputer();
  home->writeShortcut("Shop", "https://shop.example/");
  synchronise(*home);
  synchronise(*office);
  home->writeShortcut("Shop", "https://shop.example/sale");
  synchronise(*home);
  synchronise(*office);
  EXPECT_NE(readText(office->favorites() / "Shop.url").find("URL=https://shop.example/sale\r\n"), std::string::npos)
      << readText(office->favorites() / "Shop.url");
}

// Emptying a folder deletes its bookmarks everywhere. The service's list had
// not changed, so the emptied folder itself is sent as it is; the other
// computer, which still has the bookmarks, sees them deleted and the folder
// left without items goes with them; the next run of the first computer
// follows.
TEST_F(ScenarioTest, AFolderEmptiedOnOneSide) {
  auto home = startupComputer();
  auto office = startupComputer();
  home->writeShortcut("Old/One", "https://one.example/");
  home->writeShortcut("Old/Two", "https://two.example/");
  home->writeShortcut("Stay", "https://stay.example/");
  synchronise(*home);
  synchronise(*office);
  ASSERT_EQ(office->favoriteNames(), (Names{"Old/", "Old/One.url", "Old/Two.url", "Stay.url"}));

  std::filesystem::remove(office->favorites() / "Old/One.url");
  std::filesystem::remove(office->favorites() / "Old/Two.url");
  synchronise(*office);
  EXPECT_EQ(serviceNames(), (Names{"Old", "Stay"}));
  synchronise(*home);
  EXPECT_EQ(home->favoriteNames(), (Names{"Stay.url"}));
  EXPECT_EQ(serviceNames(), (Names{"Stay"}));
  synchronise(*office);
  EXPECT_EQ(office->favoriteNames(), (Names{"Stay.url"}));
}

// A rename is a deletion and an addition: for a bookmark and for a folder
// with its contents.
TEST_F(ScenarioTest, RenamesArriveAsADeletionAndAnAddition) {
  auto home = startupComputer();
  auto office = startupComputer();
  home->writeShortcut("Travel/Rail", "https://rail.example/");
  home->writeShortcut("Travel/Maps/Streets", "https://maps.example/");
  home->writeShortcut("Weather", "https://weather.example/");
  synchronise(*home);
  synchronise(*office);

  std::filesystem::rename(home->favorites() / "Travel", home->favorites() / "Journeys");
  std::filesystem::rename(home->favorites() / "Weather.url", home->favorites() / "Forecast.url");
  synchronise(*home);
  synchronise(*office);

  const Names renamed = {"Forecast.url", "Journeys/", "Journeys/Maps/", "Journeys/Maps/Streets.url",
                         "Journeys/Rail.url"};
  EXPECT_EQ(home->favoriteNames(), renamed);
  EXPECT_EQ(office->favoriteNames(), renamed);
  EXPECT_EQ(serviceNames(), (Names{"Forecast", "Journeys", "Maps", "Rail", "Streets"}));
}

// Two computers that already hold the same bookmarks meet for the first
// time: one copy of each, on both and on the service.
TEST_F(ScenarioTest, FirstSynchronisationsOfTheSameBookmarksMakeNoDuplicates) {
  auto home = startupComputer();
  auto office = startupComputer();
  for (HostComputer* pc : {home.get(), office.get()}) {
    pc->writeShortcut("Debian", "https://www.debian.org/");
    pc->writeShortcut("News/Daily", "https://daily.example/");
    pc->writeShortcut("News/Tech/LWN", "https://lwn.net/");
  }
  office->writeShortcut("News/Office only", "https://office.example/");
  synchronise(*home);
  synchronise(*office);
  synchronise(*home);
  synchronise(*office);

  const Names all = {"Debian.url", "News/", "News/Daily.url", "News/Office only.url", "News/Tech/",
                     "News/Tech/LWN.url"};
  EXPECT_EQ(home->favoriteNames(), all);
  EXPECT_EQ(office->favoriteNames(), all);
  const std::string stored = serviceDocument();
  for (const char* name : {"Debian", "News", "Daily", "Tech", "LWN", "Office only"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(nameCount(stored, name), 1u) << stored;
  }
}

// The service is down during one timer run: the run fails with the
// connection message and the error icon appears; the bookmark added before
// it waits on the computer. The service comes back (on a new port, which the
// user enters in the settings; the timer re-reads them) and the next timer
// run sends it and removes the icon.
TEST_F(ScenarioTest, ServiceDownForOneRunAndBackForTheNext) {
  auto home = computer(settings());
  auto office = startupComputer();
  home->writeShortcut("Before", "https://before.example/");
  synchronise(*office);

  HostProcess browser;
  ASSERT_TRUE(browser.start(*home));
  ASSERT_TRUE(browser.send("open") && browser.waitFor("window open 1"));
  home->writeShortcut("Added while down", "https://down.example/");
  service_.stop();
  ASSERT_TRUE(browser.send("advance 15m") && browser.send("echo down") && browser.waitFor("echo down"));
  HostRun failed = browser.output();
  EXPECT_EQ(failed.count(kRunStarted), 1u) << failed.joined();
  EXPECT_EQ(failed.count(kIconAdded), 1u) << failed.joined();
  EXPECT_TRUE(failed.has("Can't connect. Please check proxy and connection settings.")) << failed.joined();
  EXPECT_EQ(home->lastSync(), 1) << "a failed engine run leaves nothing to recover";

  ASSERT_TRUE(service_.start());
  HostRun changed = home->reg({"add", kPluginKey, "/v", "server_port", "/t", "REG_DWORD", "/d",
                               std::to_string(service_.port()), "/f"});
  ASSERT_EQ(changed.exitCode, 0) << changed.joined();
  ASSERT_TRUE(browser.send("advance 15m") && browser.send("echo back") && browser.waitFor("echo back"));
  EXPECT_EQ(browser.finish(), 0);
  HostRun all = browser.output();
  EXPECT_EQ(all.count(kRunStarted), 2u) << all.joined();
  EXPECT_EQ(all.count(kIconRemoved), 1u) << all.joined();
  EXPECT_EQ(all.count(kIconAdded), 1u) << all.joined();

  EXPECT_EQ(serviceNames(), (Names{"Added while down", "Before"}));
  EXPECT_EQ(home->favoriteNames(), (Names{"Added while down.url", "Before.url"}));
}

// A wrong password: the service refuses, the run reports the engine's text in
// the error window, and neither side changes.
TEST_F(ScenarioTest, WrongPasswordChangesNothing) {
  auto office = startupComputer();
  office->writeShortcut("Stored", "https://stored.example/");
  synchronise(*office);
  const std::string stored = serviceDocument();

  testsupport::PluginSettings s = startupSettings();
  s.password = "not the password";
  auto home = computer(s);
  home->writeShortcut("Local", "https://local.example/");
  HostRun run = home->runHost("open\nui icon\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.count(kIconAdded), 1u) << run.joined();
  EXPECT_TRUE(run.has("Downloading has been failed. Maybe username and password are incorrect?\\r\\n\""))
      << run.joined();
  EXPECT_EQ(run.count("messagebox"), 0u) << "an automatic run shows no message box\n" << run.joined();
  EXPECT_EQ(home->favoriteNames(), (Names{"Local.url"}));
  EXPECT_EQ(serviceDocument(), stored);
  EXPECT_FALSE(std::filesystem::exists(home->dataFolder() / "bookmarkscache_Explorer.xml"));
}

// The user deletes the last bookmark of the folder on a computer whose last
// run took the service's current list without uploading: the service answers
// "skip" with no items, which the now empty local list equals; the deletion
// must still be sent.
TEST_F(ScenarioTest, DeletingTheLastBookmarkReachesTheOtherComputers) {
  auto home = startupComputer();
  auto office = startupComputer();
  home->writeShortcut("Only", "https://only.example/");
  synchronise(*home);
  synchronise(*office);
  ASSERT_EQ(office->favoriteNames(), Names{"Only.url"});

  std::filesystem::remove(office->favorites() / "Only.url");
  synchronise(*office);
  EXPECT_EQ(documentNames(serviceDocument()), Names{})
      << "the deletion never reached the service: the empty local list was taken for the same as "
         "the "
         "item-less \"skip\" answer";
  synchronise(*home);
  EXPECT_EQ(home->favoriteNames(), Names{});
  synchronise(*office);
  EXPECT_EQ(office->favoriteNames(), Names{});
}

}  // namespace
}  // namespace plugintest
