// The plug-in at work in iexplore.exe against the reference service: the
// start-up, timer and exit runs, several processes of one computer, two
// computers meeting through the service, and what the user sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <utility>

#include "platform/named_mutex.h"
#include "tests/plugin_e2e_fixture.h"
#include "tests/support/relay.h"
#include "tests/support/scoped_env.h"

namespace plugintest {
namespace {

using testsupport::HostProcess;
using testsupport::HostRun;

class PluginSyncTest : public PluginE2ETest {};

TEST_F(PluginSyncTest, StartupRunUploadsTheFavoritesAndPrintsNothingElse) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto pc = computer(s);
  pc->writeShortcut("Lark", "http://lark.example/");
  pc->writeShortcut("News/Daily", "http://daily.example/");

  HostRun run = pc->runHost("open\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.count(kRunStarted), 1u) << run.joined();
  EXPECT_EQ(serviceNames(), (Names{"Daily", "Lark", "News"}));
  EXPECT_EQ(pc->lastSync(), 1);
  // A successful automatic run is silent.
  EXPECT_TRUE(run.grep({"messagebox", "icon "}).empty()) << run.joined();
}

TEST_F(PluginSyncTest, TwoComputersConvergeThroughTheService) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto home = computer(s);
  auto office = computer(s);
  home->writeShortcut("Lark", "http://lark.example/");
  home->writeShortcut("News/Daily", "http://daily.example/");
  office->writeShortcut("Owl", "http://owl.example/");

  for (auto* pc : {home.get(), office.get(), home.get()}) {
    HostRun run = pc->runHost("open\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.joined();
  }
  const Names all = {"Lark.url", "News/", "News/Daily.url", "Owl.url"};
  EXPECT_EQ(home->favoriteNames(), all);
  EXPECT_EQ(office->favoriteNames(), all);
  EXPECT_EQ(serviceNames(), (Names{"Daily", "Lark", "News", "Owl"}));
}

// Ticks come every 20 seconds; with a period of 15 minutes the first run is
// on the first tick at least 15 minutes after load and the next 15 minutes
// after that tick. The same holds across the wrap-around of the tick count.
TEST_F(PluginSyncTest, TimerRunsAfterTheIntervalAlsoAcrossTheWrapOfTheTickCount) {
  auto pc = computer(settings());
  pc->writeShortcut("Lark", "http://lark.example/");
  for (const char* clock : {"virtual", "virtual:4294667296"}) {
    SCOPED_TRACE(clock);
    HostRun run = pc->runHost(
        "open\nadvance 14m40s\necho before\nadvance 20s\necho first\nadvance 14m40s\necho early\n"
        "advance 20s\necho second\nquit\n",
        {{"QUORVANE_CLOCK", clock}});
    ASSERT_EQ(run.exitCode, 0) << run.joined();
    EXPECT_EQ(events(run), (Names{"echo before", "run", "echo first", "echo early", "run", "echo second"}))
        << run.joined();
  }
}

TEST_F(PluginSyncTest, SwitchingAutomaticSynchronisationOffStopsTimerRuns) {
  testsupport::PluginSettings s = settings();
  s.syncAuto = 0;
  auto pc = computer(s);
  HostRun run = pc->runHost("open\nadvance 1h\nquit\n");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.count(kRunStarted), 0u) << run.joined();
}

// The first process runs the start-up run; the second does not. When the
// first quits, the second takes its place on a tick and runs the timer
// synchronisations; only the last process to quit runs the exit run.
TEST_F(PluginSyncTest, TwoProcessesTakeTurnsAndOnlyTheLastRunsTheExitRun) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  s.syncBeforeExit = 1;
  auto pc = computer(s);
  pc->writeShortcut("Lark", "http://lark.example/");

  HostProcess first, second;
  ASSERT_TRUE(first.start(*pc));
  ASSERT_TRUE(first.send("open") && first.waitFor("window open 1"));
  EXPECT_EQ(first.output().count(kRunStarted), 1u) << first.output().joined();

  ASSERT_TRUE(second.start(*pc));
  ASSERT_TRUE(second.send("open") && second.waitFor("window open 1"));
  EXPECT_EQ(second.output().count(kRunStarted), 0u) << second.output().joined();

  EXPECT_EQ(first.finish(), 0);
  EXPECT_EQ(first.output().count(kRunStarted), 1u) << "no exit run while another process runs\n"
                                                  << first.output().joined();

  ASSERT_TRUE(second.send("advance 15m") && second.send("echo ticked") && second.waitFor("echo ticked"));
  EXPECT_EQ(second.output().count(kRunStarted), 1u) << "the timer run after the takeover\n"
                                                   << second.output().joined();
  EXPECT_EQ(second.finish(), 0);
  EXPECT_EQ(second.output().count(kRunStarted), 2u) << "the exit run of the last process\n"
                                                   << second.output().joined();
}

// Once two computers agree, a timer run where nothing changed downloads no
// list: the service answers "skip", also to the computer whose own upload
// made the current version. Each computer reaches the service through a
// relay that records the answers.
TEST_F(PluginSyncTest, IdleTimerRunsAreAnsweredSkip) {
  testsupport::Relay homeRelay(service_.port()), officeRelay(service_.port());
  ASSERT_NE(homeRelay.port(), 0);
  ASSERT_NE(officeRelay.port(), 0);
  testsupport::PluginSettings s = settings();
  s.port = homeRelay.port();
  auto home = computer(s);
  s.port = officeRelay.port();
  auto office = computer(s);
  home->writeShortcut("Lark", "http://lark.example/");
  home->writeShortcut("Owl", "http://owl.example/");
  home->writeShortcut("News/Daily", "http://daily.example/");
  home->writeShortcut("News/Weekly", "http://weekly.example/");

  // Home uploads its list, office receives it: each on its first timer run.
  const std::string oneRun = "open\nadvance 15m\nquit\n";
  runHostOk(*home, oneRun);
  runHostOk(*office, oneRun);
  ASSERT_EQ(office->favoriteNames(), home->favoriteNames());
  EXPECT_EQ(homeRelay.takeEvents(), (Names{"GET get 200", "PUT put 200"}));
  EXPECT_EQ(officeRelay.takeEvents(), (Names{"GET get 200"}));
  homeRelay.takeAnswers();
  officeRelay.takeAnswers();

  std::string idle = "open\n";
  for (int run = 0; run < 10; ++run) idle += "advance 15m\n";
  idle += "quit\n";
  for (auto [pc, relay] : {std::pair{home.get(), &homeRelay}, std::pair{office.get(), &officeRelay}}) {
    SCOPED_TRACE(pc == home.get() ? "home" : "office");
    const HostRun run = runHostOk(*pc, idle);
    EXPECT_EQ(run.count(kRunStarted), 10u) << run.joined();
    size_t full = 0, skip = 0, bytes = 0;
    std::string seen;
    for (const testsupport::RelayAnswer& answer : relay->takeAnswers()) {
      seen += answer.request + " " + answer.type + " " + std::to_string(answer.bytes) + "; ";
      EXPECT_EQ(answer.request, "GET get 200") << "an idle run sent a request other than a download";
      full += answer.type == "full";
      skip += answer.type == "skip";
      bytes += answer.bytes;
    }
    EXPECT_LE(full, 1u) << seen;
    EXPECT_EQ(full + skip, 10u) << seen;
    std::printf("ten idle runs: %zu full answers, %zu skip answers, %zu bytes\n", full, skip, bytes);
  }
  EXPECT_EQ(office->favoriteNames(), home->favoriteNames());
}

TEST_F(PluginSyncTest, OfflineThePressDoesNothingVisible) {
  auto pc = computer(settings());
  HostRun run = pc->runHost("open\noffline\npress 1\nonline\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.count(kRunStarted), 0u);
  EXPECT_TRUE(run.grep({"messagebox", "icon ", "dialog "}).empty()) << run.joined();
  EXPECT_EQ(pc->lastSync(), -1) << "an offline run touches no registry value";
}

// The press opens the engine's options dialog; "Synchronize now" fails
// there (wrong password) with its own box, and when the dialog closes the
// plug-in reports the engine's answer in the error window only.
TEST_F(PluginSyncTest, PressReportsTheEngineAnswerInTheErrorWindow) {
  auto pc = computer(settings());
  HostRun run = pc->runHost(
      "open\nui type 2005 wrong\nui click 2002\nui click 1\npress 1\nui icon\necho clicked\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_TRUE(run.has("dialog show window=")) << run.joined();
  EXPECT_EQ(run.count("messagebox"), 1u) << run.joined();
  EXPECT_EQ(run.count("messagebox caption=\"Error while synchronization\""), 1u) << run.joined();
  EXPECT_EQ(run.count("icon add owner="), 1u) << run.joined();
  EXPECT_TRUE(run.has("tip=\"Bookmark plugin error\" callback=1124")) << run.joined();
  EXPECT_TRUE(run.has("Downloading has been failed. Maybe username and password are incorrect?\\r\\n\""))
      << run.joined();
}

// Another run holds the run mutex (as an interactive run does while the
// options dialog is open): a press says so and changes nothing.
TEST_F(PluginSyncTest, SecondPressWhileARunIsOpenSaysAnotherRunIsInProgress) {
  auto pc = computer(settings());
  testsupport::ScopedEnv here("QUORVANE_PREFIX", pc->prefix().string());
  platform::NamedMutex running("BookmarkPlugin_Synchronize");
  ASSERT_TRUE(running.valid());

  HostRun run = pc->runHost("open\npress 1\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.grep({"messagebox"}),
            (Names{"messagebox caption=\"Information\" text=\"Another synchronization process is running.\" "
                   "buttons=ok icon=information owner=0 answer=ok"}))
      << run.joined();
  EXPECT_EQ(run.count(kRunStarted), 0u);
  EXPECT_EQ(run.count("icon add"), 0u);
  EXPECT_EQ(pc->lastSync(), -1);
}

TEST_F(PluginSyncTest, FavoritesFolderMissingWhenThePressComes) {
  auto pc = computer(settings());
  std::filesystem::remove_all(pc->favorites());
  HostRun run = pc->runHost("open\npress 1\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.grep({"messagebox"}),
            (Names{"messagebox caption=\"Bookmark plugin\" text=\"Can not find Favorites folder.\" buttons=ok "
                   "icon=none owner=0 answer=ok"}))
      << run.joined();
}

// The plug-in loaded by another host counts nothing and runs nothing by
// itself; its button still works.
TEST_F(PluginSyncTest, AnotherHostLoadsThePluginWithoutCounting) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  s.syncBeforeExit = 1;
  auto pc = computer(s);
  HostRun run = pc->runHost("open\nadvance 1h\npress 1\nquit\n", {}, "explorer.exe");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_TRUE(run.has("object create window=1 role=helper")) << run.joined();
  EXPECT_EQ(run.count(kRunStarted), 0u) << run.joined();
  // Nobody answers the options dialog: it closes without a synchronisation.
  EXPECT_EQ(run.count("dialog show window="), 1u) << "the press ran\n" << run.joined();
  EXPECT_EQ(run.count("icon add"), 0u) << run.joined();
  EXPECT_NE(pc->reg({"query", kPluginKey, "/v", "inscount"}).exitCode, 0);
}

}  // namespace
}  // namespace plugintest
