// Failed runs as the user meets them: the error icon and window, "lastsync",
// automatic synchronisation switched off after a failed write, and the
// recovery of the next run.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostProcess;
using testsupport::HostRun;

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class PluginFailureTest : public PluginE2ETest {
 protected:
  // A second computer puts a list with a folder on the service.
  void putListWithFolder() {
    testsupport::PluginSettings s = settings();
    s.syncAfterStart = 1;
    auto other = computer(s);
    other->writeShortcut("Lark", "http://lark.example/");
    other->writeShortcut("News/Daily", "http://daily.example/");
    other->writeShortcut("News/Weekly", "http://weekly.example/");
    ASSERT_EQ(other->runHost("open\nquit\n").exitCode, 0);
    ASSERT_EQ(serviceNames(), (Names{"Daily", "Lark", "News", "Weekly"}));
  }
};

// The reader fails (the Favorites folder is a file): the engine is not
// called, the error window gets the reader's text, and "lastsync" stays as
// it was: a 0 from a failed write before still makes the next run recover.
TEST_F(PluginFailureTest, ReaderFailureSkipsTheEngineAndKeepsTheRecord) {
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto pc = computer(s);
  std::filesystem::remove_all(pc->favorites());
  std::ofstream(pc->favorites()) << "not a folder";
  ASSERT_EQ(pc->reg({"add", kPluginKey, "/v", "lastsync", "/t", "REG_DWORD", "/d", "0", "/f"}).exitCode, 0);

  HostRun run = pc->runHost("open\nui icon\nquit\n");
  ASSERT_EQ(run.exitCode, 0) << run.joined();
  EXPECT_EQ(run.count(kRunStarted), 0u) << run.joined();
  EXPECT_EQ(run.count("icon add"), 1u) << run.joined();
  EXPECT_EQ(run.count("messagebox"), 0u) << "automatic runs show no message box";
  EXPECT_EQ(pc->lastSync(), 0);
}

// The engine fails (a wrong password): its text becomes the entry; with the
// engine's errorIcon off nothing is shown at all.
TEST_F(PluginFailureTest, EngineFailureGoesToTheErrorWindowWhenTheIconIsOn) {
  for (int errorIcon : {1, 0}) {
    SCOPED_TRACE(errorIcon);
    testsupport::PluginSettings s = settings();
    s.syncAfterStart = 1;
    s.password = "wrong";
    s.errorIcon = errorIcon;
    auto pc = computer(s);
    pc->writeShortcut("Lark", "http://lark.example/");
    HostRun run = pc->runHost("open\nui icon\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.joined();
    EXPECT_EQ(run.count(kRunStarted), 1u);
    EXPECT_EQ(run.count("icon add"), errorIcon ? 1u : 0u) << run.joined();
    EXPECT_EQ(run.count("dialog show"), errorIcon ? 1u : 0u) << run.joined();
    EXPECT_EQ(run.count("messagebox"), 0u);
    EXPECT_EQ(pc->lastSync(), 1);
    EXPECT_EQ(pc->favoriteNames(), (Names{"Lark.url"}));
  }
}

// The writer fails (a sub-folder cannot be made where the result is built):
// "lastsync" 0, automatic
// synchronisation switched off in the settings, the entry with its two
// extra lines. The next run without the fault unites the folder with the
// engine's cache and writes the whole list.
TEST_F(PluginFailureTest, WriterFailureSwitchesAutoOffAndTheNextRunRecovers) {
  putListWithFolder();
  testsupport::PluginSettings s = settings();
  s.syncAfterStart = 1;
  auto pc = computer(s);
  pc->writeShortcut("Owl", "http://owl.example/");

  HostRun failed =
      pc->runHost("open\nui icon\nquit\n", {{"QUORVANE_FAULTS", "file-write=112@Favorites.apply/new/News"}});
  ASSERT_EQ(failed.exitCode, 0) << failed.joined();
  EXPECT_EQ(failed.count("icon add"), 1u) << failed.joined();
  // The entry: its time, the two extra lines around the writer's text.
  const std::regex entry(
      R"(id=201 kind=edit text="\d\d/\d\d/\d{4}, \d\d:\d\d:\d\d\\r\\n)"
      R"(Error while applying synchronization result:\\r\\nThere is not enough space on the disk.\\r\\n)"
      R"(\\r\\nAuto synchronization is disabled.\\r\\n")");
  const std::vector<std::string> list = failed.grep({"id=201 kind=edit"});
  ASSERT_EQ(list.size(), 1u) << failed.joined();
  EXPECT_TRUE(std::regex_search(list[0], entry)) << list[0];
  EXPECT_EQ(pc->lastSync(), 0);
  EXPECT_NE(readText(pc->dataFolder() / "bookmarks_Explorer.cfg").find("sync.auto=0"), std::string::npos);

  HostRun recovered = pc->runHost("open\nquit\n");
  ASSERT_EQ(recovered.exitCode, 0) << recovered.joined();
  EXPECT_EQ(recovered.count("icon add"), 0u) << recovered.joined();
  EXPECT_EQ(pc->lastSync(), 1);
  EXPECT_EQ(pc->favoriteNames(), (Names{"Lark.url", "News/", "News/Daily.url", "News/Weekly.url", "Owl.url"}));
  EXPECT_EQ(serviceNames(), (Names{"Daily", "Lark", "News", "Owl", "Weekly"}));
}

// In one process: two failures give one icon and two entries, a success
// removes the icon and keeps the entries, the next failure adds the icon
// again and appends below them. The failures come from the server port,
// which the timer re-reads from the shared settings before every run.
TEST_F(PluginFailureTest, ErrorIconComesAndGoesWithFailuresAndSuccesses) {
  testsupport::PluginSettings s = settings();
  s.syncPeriod = 1;
  auto pc = computer(s);
  pc->writeShortcut("Lark", "http://lark.example/");
  const std::string deadPort = std::to_string(testsupport::freeLoopbackPort());
  const std::string livePort = std::to_string(service_.port());
  auto setPort = [&](const std::string& port) {
    ASSERT_EQ(pc->reg({"add", kPluginKey, "/v", "server_port", "/t", "REG_DWORD", "/d", port, "/f"}).exitCode, 0);
  };

  HostProcess host;
  ASSERT_TRUE(host.start(*pc));
  ASSERT_TRUE(host.send("open") && host.waitFor("window open 1"));
  const struct {
    const char* port;
    const char* iconLine;
  } steps[] = {{"dead", "icon add"}, {"dead", "icon modify"}, {"live", "icon delete"}, {"dead", "icon add"}};
  int step = 0;
  for (const auto& row : steps) {
    SCOPED_TRACE(step);
    setPort(std::string(row.port) == "dead" ? deadPort : livePort);
    const std::string mark = "echo step " + std::to_string(step++);
    ASSERT_TRUE(host.send("advance 1m") && host.send(mark) && host.waitFor(mark));
    const HostRun seen = host.output();
    const std::vector<std::string>& lines = seen.lines;
    auto last = std::find_if(lines.rbegin(), lines.rend(),
                             [](const std::string& l) { return l.rfind("icon ", 0) == 0; });
    ASSERT_NE(last, lines.rend()) << seen.joined();
    EXPECT_EQ(last->rfind(row.iconLine, 0), 0u) << *last;
  }
  ASSERT_TRUE(host.send("ui icon") && host.send("echo shown") && host.waitFor("echo shown"));
  EXPECT_EQ(host.finish(), 0);
  const HostRun out = host.output();
  auto shown = std::find_if(out.lines.begin(), out.lines.end(),
                            [](const std::string& l) { return l.find("control window=") == 0 && l.find("id=201 ") != std::string::npos; });
  ASSERT_NE(shown, out.lines.end()) << out.joined();
  // Three entries, each a time line, the message and an empty line between.
  const std::regex entry(R"(\d\d/\d\d/\d{4}, \d\d:\d\d:\d\d\\r\\n[^\\]+\\r\\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(shown->begin(), shown->end(), entry), std::sregex_iterator()), 3)
      << *shown;
  EXPECT_NE(shown->find("\\r\\n\\r\\n"), std::string::npos) << *shown;
}

}  // namespace
}  // namespace plugintest
