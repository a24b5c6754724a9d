// What the Favorites folder and the service's list may hold that a careless
// reader or writer would lose: names the writer cannot create, icon paths
// that would make the computer send a local file, a huge shortcut file.
// Every case ends with the service and every computer holding every
// bookmark they can hold: none lost, none duplicated.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>

#include "platform/codepage.h"
#include "tests/plugin_e2e_fixture.h"

namespace plugintest {
namespace {

using testsupport::HostRun;

constexpr char kApplyError[] = "Error while applying synchronization result:";

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string shortcutText(const std::string& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

std::string bookmarkXml(const std::string& name, const std::string& extra = "") {
  return "<bookmark><name>" + name + "</name><link>http://" + name + ".example/</link>" + extra + "</bookmark>";
}

class PluginDocumentsTest : public PluginE2ETest {};

// Entries on disk that a document cannot carry, or that the writer could
// not make again, never reach the service, are logged, and stay as they are
// through every apply.
TEST_F(PluginDocumentsTest, NamesThatCannotBeCarriedStayWhereTheyAre) {
  auto home = computer(startupSettings());
  auto office = computer(startupSettings());
  const std::filesystem::path fav = home->favorites();
  const size_t room = 247 - platform::pathToUtf16(fav).size() - 1;
  struct Row {
    const char* what;
    std::filesystem::path path;
  } rows[] = {
      {"a backslash", "a\\b.url"},
      {"nothing before the extension", ".url"},
      {"a dot", "..url"},
      {"two dots", "...url"},
      {"not UTF-8", "Caf\xe9.url"},
      {"not UTF-8, one Latin-1 byte apart", "Caf\xe8.url"},
      {"a folder path beyond the limit", std::filesystem::path(std::string(room + 1, 'L')) / "deep.url"},
  };
  std::map<std::filesystem::path, std::string> leftOut;
  for (const Row& row : rows) {
    leftOut[row.path] = shortcutText(std::string("http://") + row.what + "/");
    writeBytes(fav / row.path, leftOut[row.path]);
  }
  home->writeShortcut("Plain", "http://plain.example/");
  home->writeShortcut("Caf\xc3\xa9", "http://cafe.example/");

  HostRun first = runHostOk(*home);
  for (const Row& row : rows) {
    // A folder is left out with everything inside it.
    const std::filesystem::path logged = row.path.has_parent_path() ? row.path.parent_path() : row.path;
    EXPECT_TRUE(first.has((fav / logged).string() + " is left out of the synchronization")) << row.what;
  }
  EXPECT_EQ(serviceNames(), (Names{"Caf\xc3\xa9", "Plain"}));

  // Another computer adds a bookmark: this one applies the list again.
  runHostOk(*office);
  office->writeShortcut("FromOffice", "http://office.example/");
  runHostOk(*office);
  HostRun second = runHostOk(*home);
  EXPECT_FALSE(second.has(kApplyError)) << second.joined();
  for (const auto& [path, bytes] : leftOut) EXPECT_EQ(readBytes(fav / path), bytes) << path;
  const Names expected{"Caf\xc3\xa9", "FromOffice", "Plain"};
  EXPECT_EQ(serviceNames(), expected);
  runHostOk(*office);
  EXPECT_EQ(plainNames(office->favoriteNames()), expected);
}

// A name from the service that this computer cannot create (300 bytes, more
// than a file name here may have): the apply fails and changes nothing;
// once the list no longer holds it, the computer follows again.
TEST_F(PluginDocumentsTest, ANameTooLongToCreateFailsTheApplyCleanly) {
  auto pc = computer(startupSettings());
  pc->writeShortcut("Mine", "http://mine.example/");
  runHostOk(*pc);
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "\xc3\xa9";  // 300 bytes
  putDocument(bookmarkXml("Mine") + bookmarkXml("Kept") + bookmarkXml(longName));

  const std::vector<std::string> before = pc->favoriteNames();
  HostRun failed = pc->runHost("open\nui icon\nquit\n");
  EXPECT_TRUE(failed.has(kApplyError)) << failed.joined();
  EXPECT_TRUE(failed.has("Can not create file ")) << failed.joined();
  EXPECT_EQ(pc->favoriteNames(), before);
  EXPECT_EQ(pc->lastSync(), 0);
  EXPECT_EQ(serviceNames(), (Names{"Kept", "Mine", longName}));

  putDocument(bookmarkXml("Mine") + bookmarkXml("Kept") + bookmarkXml("Shorter"));
  HostRun clean = runHostOk(*pc);
  EXPECT_FALSE(clean.has(kApplyError)) << clean.joined();
  EXPECT_EQ(serviceNames(), (Names{"Kept", "Mine", "Shorter"}));
  EXPECT_EQ(plainNames(pc->favoriteNames()), serviceNames());
  EXPECT_EQ(pc->lastSync(), 1);
}

// An icon path from the service that names a local ".ico" file outside the
// icons folder is not written into the shortcut, so the file is never read
// and never sent.
TEST_F(PluginDocumentsTest, AnIconPathFromTheServiceIsNeverRead) {
  auto pc = computer(startupSettings());
  const std::filesystem::path secret = pc->prefix() / "secret.ico";
  writeBytes(secret, "SECRET ICON BYTES");
  const std::string iconPath = platform::utf16ToUtf8(platform::pathToUtf16(secret));
  putDocument(bookmarkXml("Spy", "<iconfile>" + iconPath + "</iconfile>") + bookmarkXml("Plain"));

  HostRun first = runHostOk(*pc);
  EXPECT_TRUE(first.has("a file outside the icons folder")) << first.joined();
  EXPECT_EQ(readBytes(pc->favorites() / "Spy.url").find("IconFile"), std::string::npos);
  // A local change makes the next run send the whole list.
  pc->writeShortcut("Later", "http://later.example/");
  runHostOk(*pc);
  const std::string stored = serviceDocument();
  EXPECT_EQ(stored.find("U0VDUkVUIElDT04gQllURVM"), std::string::npos) << "the file's bytes reached the service";
  EXPECT_EQ(stored.find(iconPath), std::string::npos);
  EXPECT_EQ(documentNames(stored), (Names{"Later", "Plain", "Spy"}));
  EXPECT_EQ(plainNames(pc->favoriteNames()), documentNames(stored));
}

// A 40 MiB file named like a shortcut beside ordinary ones: left out and
// left alone; the ordinary ones synchronise.
TEST_F(PluginDocumentsTest, AHugeShortcutFileIsLeftAlone) {
  auto pc = computer(startupSettings());
  auto other = computer(startupSettings());
  const std::filesystem::path huge = pc->favorites() / "Huge.url";
  writeBytes(huge, shortcutText("http://huge.example/") + std::string(40 << 20, ' '));
  pc->writeShortcut("One", "http://one.example/");
  pc->writeShortcut("Folder/Two", "http://two.example/");

  HostRun first = runHostOk(*pc);
  EXPECT_TRUE(first.has("Huge.url is left out of the synchronization")) << first.joined();
  EXPECT_EQ(serviceNames(), (Names{"Folder", "One", "Two"}));
  other->writeShortcut("Three", "http://three.example/");
  runHostOk(*other);
  HostRun second = runHostOk(*pc);
  EXPECT_FALSE(second.has(kApplyError)) << second.joined();
  EXPECT_EQ(std::filesystem::file_size(huge), shortcutText("http://huge.example/").size() + (40u << 20));
  EXPECT_EQ(serviceNames(), (Names{"Folder", "One", "Three", "Two"}));
  EXPECT_EQ(plainNames(other->favoriteNames()), serviceNames());
}

// Another client stored two folders of one name and two bookmarks of one
// name side by side: the folders are united, the first bookmark is kept,
// and no run fails, on either computer, through two rounds.
TEST_F(PluginDocumentsTest, DuplicateSiblingsFromTheServiceAreUnited) {
  auto pc = computer(startupSettings());
  auto other = computer(startupSettings());
  pc->writeShortcut("Mine", "http://mine.example/");
  runHostOk(*pc);
  putDocument("<folder><name>Dup</name><children>" + bookmarkXml("a") + bookmarkXml("b") + "</children></folder>" +
              "<folder><name>Dup</name><children>" + bookmarkXml("c") + bookmarkXml("a") + "</children></folder>" +
              "<bookmark><name>Twice</name><link>http://first.example/</link></bookmark>" +
              "<bookmark><name>Twice</name><link>http://second.example/</link></bookmark>" + bookmarkXml("Mine"));
  const Names expected{"Dup", "Mine", "Twice", "a", "b", "c"};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    for (const auto* computer : {pc.get(), other.get()}) {
      HostRun result = computer->runHost("open\nui icon\nquit\n");
      EXPECT_EQ(result.count("icon add"), 0u) << result.joined();
      EXPECT_EQ(plainNames(computer->favoriteNames()), expected);
      EXPECT_NE(readBytes(computer->favorites() / "Twice.url").find("http://first.example/"), std::string::npos);
    }
    EXPECT_EQ(serviceNames(), expected);
  }
}

// A folder that holds a description and no "children" (as another client
// may store it), in the service's list and then in the cache: no run fails,
// and a deletion made elsewhere still arrives.
TEST_F(PluginDocumentsTest, AFolderWithoutChildrenFailsNothing) {
  auto pc = computer(startupSettings());
  auto other = computer(startupSettings());
  putDocument("<folder><name>G</name><description>d</description></folder>" + bookmarkXml("X") + bookmarkXml("Y"));
  for (const auto* computer : {pc.get(), other.get()}) {
    HostRun first = computer->runHost("open\nui icon\nquit\n");
    EXPECT_EQ(first.count("icon add"), 0u) << first.joined();
    EXPECT_EQ(plainNames(computer->favoriteNames()), (Names{"G", "X", "Y"}));
  }
  std::filesystem::remove(other->favorites() / "Y.url");
  other->writeShortcut("Z", "http://z.example/");
  runHostOk(*other);
  HostRun second = pc->runHost("open\nui icon\nquit\n");
  EXPECT_EQ(second.count("icon add"), 0u) << second.joined();
  const Names expected{"G", "X", "Z"};
  EXPECT_EQ(serviceNames(), expected);
  EXPECT_EQ(plainNames(pc->favoriteNames()), expected);
  runHostOk(*other);
  EXPECT_EQ(plainNames(other->favoriteNames()), expected);
}

}  // namespace
}  // namespace plugintest
