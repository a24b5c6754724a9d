#include "plugin/favorites/writer.h"

#include <gtest/gtest.h>

#include <set>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "plugin/favorites/favorites_test_util.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/item_nodes.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/reader.h"
#include "platform/faults.h"

namespace {

using namespace favorites;
using namespace favorites_test;

constexpr char kBase[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";

std::u16string systemText(platform::Status code) {
  std::string text;
  EXPECT_TRUE(platform::systemErrorText(code, &text));
  return platform::ansiToUtf16(text);
}

std::string document(const std::string& items) {
  return "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">" +
         items + "</bookmarks>\n";
}

std::string folderXml(const std::string& name, const std::string& children,
                      const std::string& order = "") {
  return "<folder" + (order.empty() ? "" : " order=\"" + order + "\"") + "><name>" + name +
         "</name><children>" + children + "</children></folder>";
}

std::string bookmarkXml(const std::string& name, const std::string& order = "") {
  return "<bookmark" + (order.empty() ? "" : " order=\"" + order + "\"") + "><name>" + name +
         "</name><link>http://x/</link></bookmark>";
}

// Every path below the prefix, outside the Favorites folder, the registry and
// the log.
std::set<std::string> snapshot(const fs::path& root, const fs::path& favorites) {
  std::set<std::string> paths;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path == favorites || path.filename() == "registry") {
      it.disable_recursion_pending();
      continue;
    }
    if (path.filename() != "bookmarks.log") paths.insert(path.string());
  }
  return paths;
}

class WriterTest : public FavoritesTest {
 protected:
  void SetUp() override {
    FavoritesTest::SetUp();
    fav_ = favoritesFolder();
    icons_ = prefix_.path() / "icons";
    fs::create_directory(icons_);
    writeFile(pluginConfigPath(),
              "\r\nicons_folder=" + platform::utf16ToAnsi(platform::pathToUtf16(icons_)) + "\\");
  }

  void fillFavorites() {
    fs::create_directories(fav_ / "Old" / "Inner");
    writeFile(fav_ / "Old" / "inner.url", "[InternetShortcut]\r\nURL=http://o/");
    writeFile(fav_ / "Old" / "notes.txt", "kept only outside sub-folders");
    fs::create_directory(fav_ / "Old2");
    writeFile(fav_ / "a.url", "[InternetShortcut]\r\nURL=http://a/");
    writeFile(fav_ / "B.URL", "[InternetShortcut]\r\nURL=http://b/");
    writeFile(fav_ / "desktop.ini", "[.ShellClassInfo]");
    writeFile(fav_ / "keep.lnk", "link");
    writeFile(icons_ / "icon1.ico", "old icon");
    writeFile(icons_ / "keep.txt", "not an icon");
  }

  fs::path fav_;
  fs::path icons_;
};

TEST(ItemNamesTest, OnlyPlainNamesAreSafe) {
  struct Row {
    std::u16string name;
    bool safe;
  } rows[] = {
      {u"News", true},
      {u"..News", true},
      {u"a.b", true},
      {u"Caf\u00e9", true},
      {u"", false},
      {u".", false},
      {u"..", false},
      {u"a/b", false},
      {u"a\\b", false},
      {u"/", false},
      {std::u16string(u"a\0b", 3), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(platform::utf16ToUtf8(row.name));
    EXPECT_EQ(row.safe, isSafeItemName(row.name));
  }
}

TEST_F(WriterTest, ReplacesWhatTheReaderCarriesAndKeepsTheRest) {
  fillFavorites();
  ASSERT_EQ(u"", writeFavorites(document(bookmarkXml("new"))));
  EXPECT_FALSE(fs::exists(fav_ / "Old" / "Inner"));
  EXPECT_FALSE(fs::exists(fav_ / "Old" / "inner.url"));
  // A file that is not a shortcut is never read, so never removed: its
  // folder stays for it.
  EXPECT_EQ("kept only outside sub-folders", readFile(fav_ / "Old" / "notes.txt"));
  EXPECT_FALSE(fs::exists(fav_ / "Old2"));
  EXPECT_FALSE(fs::exists(fav_ / "a.url"));
  EXPECT_FALSE(fs::exists(fav_ / "B.URL"));
  EXPECT_TRUE(fs::exists(fav_ / "new.url"));
  EXPECT_TRUE(fs::exists(fav_ / "desktop.ini"));
  EXPECT_TRUE(fs::exists(fav_ / "keep.lnk"));
  EXPECT_FALSE(fs::exists(icons_ / "icon1.ico"));
  EXPECT_TRUE(fs::exists(icons_ / "keep.txt"));
  EXPECT_FALSE(fs::exists(stagingFolder(fav_)));
}

TEST_F(WriterTest, DocumentThatDoesNotParseChangesNothing) {
  fillFavorites();
  const std::set<std::string> before = snapshot(prefix_.path(), fs::path());
  for (const std::string& text :
       {std::string(""), std::string("<bookmarks><folder>"), std::string("not xml at all")}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(u"Could not parse XML", writeFavorites(text));
  }
  EXPECT_EQ(before, snapshot(prefix_.path(), fs::path()));
}

TEST_F(WriterTest, LinksInFavoritesAreLeftAloneNotFollowed) {
  testsupport::TempDir outside;
  writeFile(outside.path() / "precious.url", "[InternetShortcut]\r\nURL=http://p/");
  fs::create_directory_symlink(outside.path(), fav_ / "linked");
  ASSERT_EQ(u"", writeFavorites(document(bookmarkXml("new"))));
  EXPECT_TRUE(fs::is_symlink(fav_ / "linked"));
  EXPECT_TRUE(fs::exists(outside.path() / "precious.url"));
  EXPECT_TRUE(fs::exists(fav_ / "new.url"));
}

// Any item that cannot be built fails the whole apply: every message is
// collected (with the path the item would have had), and the Favorites
// folder, the icons folder and the menu order stay as they were.
TEST_F(WriterTest, AFailedApplyCollectsEveryErrorAndChangesNothing) {
  fillFavorites();
  const std::set<std::string> before = snapshot(prefix_.path(), fs::path());
  const std::u16string sub = platform::pathToUtf16(fav_ / "Sub");
  const std::string icon = std::string(kIconDataUriPrefix) + "AAABAAEA";
  const std::string doc =
      document(bookmarkXml("after") + "<separator/>" +
               "<bookmark><name>pictured</name><link>http://p/</link><iconfile>" + icon + "</iconfile></bookmark>" +
               folderXml("Sub", bookmarkXml("a/b") + bookmarkXml("ok") + bookmarkXml("..") + bookmarkXml("")));
  const std::u16string expected = u"Can not create file " + sub + u"\\a/b.url\r\n" +
                                  u"Can not create file " + sub + u"\\...url\r\n" +
                                  u"Can not create file " + sub + u"\\.url";
  EXPECT_EQ(expected, writeFavorites(doc));
  flushMenuOrders();
  EXPECT_EQ(before, snapshot(prefix_.path(), fs::path()));
  platform::RegKey key;
  EXPECT_NE(platform::kOk, platform::RegKey::open(platform::RegRoot::CurrentUser, kBase, &key));
}

TEST_F(WriterTest, HostileNamesNeverReachOutside) {
  fs::create_directory(prefix_.path() / "victim");
  writeFile(prefix_.path() / "victim" / "data.url", "precious");
  const std::set<std::string> before = snapshot(prefix_.path(), fav_);
  const std::string doc = document(
      folderXml("..", bookmarkXml("escaped")) + folderXml("../victim", bookmarkXml("data")) +
      folderXml("..\\victim", "") + folderXml("/tmp", "") + folderXml(".", "") + folderXml("", "") +
      bookmarkXml("../victim/data") + bookmarkXml("..\\..\\evil") +
      folderXml("Fine", bookmarkXml("../../victim/data") + folderXml("..", "")));
  const std::u16string invalid = systemText(platform::kInvalidName);
  const std::u16string fine = platform::pathToUtf16(fav_ / "Fine");
  const std::u16string favText = platform::pathToUtf16(fav_);
  const std::u16string expected =
      invalid + u"\r\n" + invalid + u"\r\n" + invalid + u"\r\n" + invalid + u"\r\n" + invalid +
      u"\r\n" + invalid + u"\r\n" + u"Can not create file " + favText + u"\\../victim/data.url" +
      u"\r\n" + u"Can not create file " + favText + u"\\..\\..\\evil.url" + u"\r\n" +
      u"Can not create file " + fine + u"\\../../victim/data.url" + u"\r\n" + invalid;
  EXPECT_EQ(expected, writeFavorites(doc));
  EXPECT_EQ(before, snapshot(prefix_.path(), fav_));
  EXPECT_EQ("precious", readFile(prefix_.path() / "victim" / "data.url"));
  EXPECT_TRUE(fs::is_empty(fav_));
}

TEST_F(WriterTest, MenuOrderRecordsEveryWrittenItem) {
  ASSERT_EQ(u"", writeFavorites(document(folderXml("F", bookmarkXml("in", "6"), "5") +
                                         bookmarkXml("top", "0") + bookmarkXml("u") +
                                         bookmarkXml("marked", "-5") + "<separator/>")));
  flushMenuOrders();
  platform::RegKey key;
  platform::RegValue value;
  ASSERT_EQ(platform::kOk, platform::RegKey::open(platform::RegRoot::CurrentUser, kBase, &key));
  ASSERT_EQ(platform::kOk, key.readValue("Order", &value));
  // Positioned: top 0, F 5; u and marked (-5 counts as none) sort at 2 and 3.
  EXPECT_EQ(encodeOrderValue({{u"F", u"", ItemKind::Folder, 3},
                              {u"marked.url", u"", ItemKind::File, 2},
                              {u"top.url", u"", ItemKind::File, 0},
                              {u"u.url", u"", ItemKind::File, 1}}),
            value.data);
  ASSERT_EQ(platform::kOk, platform::RegKey::open(platform::RegRoot::CurrentUser,
                                                  std::string(kBase) + "\\F", &key));
  ASSERT_EQ(platform::kOk, key.readValue("Order", &value));
  EXPECT_EQ(encodeOrderValue({{u"in.url", u"", ItemKind::File, 0}}), value.data);
}

TEST_F(WriterTest, PathsPastTheSystemsLimitAreNotCreated) {
  const size_t room = kMaxFolderPath - platform::pathToUtf16(fav_).size() - 1;
  const std::string longest(room, 'L');
  const std::string tooLong(room + 1, 'T');
  ASSERT_EQ(u"", writeFavorites(document(folderXml(longest, bookmarkXml("b")))));
  EXPECT_TRUE(fs::is_directory(fav_ / longest));
  EXPECT_EQ(systemText(platform::kFilenameTooLong), writeFavorites(document(folderXml(tooLong, ""))));
  EXPECT_FALSE(fs::exists(fav_ / tooLong));
  EXPECT_TRUE(fs::is_directory(fav_ / longest));
  const std::string fileName(kMaxFilePath - kMaxFolderPath, 'f');  // one unit past the limit with ".url"
  EXPECT_EQ(u"Can not create file " + platform::pathToUtf16(fav_ / longest / (fileName + ".url")),
            writeFavorites(document(folderXml(longest, bookmarkXml(fileName)))));
  EXPECT_EQ(u"", writeFavorites(document("")));  // and the next apply removes it
  EXPECT_FALSE(fs::exists(fav_ / longest));
}

TEST_F(WriterTest, AMissingFavoritesFolderIsNeverCreated) {
  fs::remove_all(fav_);
  EXPECT_EQ(systemText(platform::kPathNotFound), writeFavorites(document(bookmarkXml("new"))));
  EXPECT_FALSE(fs::exists(fav_));
  EXPECT_FALSE(fs::exists(stagingFolder(fav_)));
}

// What a stopped apply left beside the Favorites folder is cleared by the
// next; an entry made or changed after the read is kept, never replaced.
TEST_F(WriterTest, LeftoversGoAndEntriesNewerThanTheReadStay) {
  fs::create_directories(stagingFolder(fav_) / "new" / "half");
  writeFile(stagingFolder(fav_) / "new" / "half" / "x.url", "");
  writeFile(fav_ / "edited.url", "[InternetShortcut]\r\nURL=http://before/");
  writeFile(fav_ / "gone.url", "[InternetShortcut]\r\nURL=http://gone/");
  std::string text;
  ReadSet read;
  ASSERT_EQ(u"", readFavorites(&text, &read));
  writeFile(fav_ / "edited.url", "[InternetShortcut]\r\nURL=http://after-the-read/");
  writeFile(fav_ / "added.url", "[InternetShortcut]\r\nURL=http://added/");
  ASSERT_EQ(u"", writeFavorites(document(bookmarkXml("edited") + bookmarkXml("fresh")), &read));
  EXPECT_EQ("[InternetShortcut]\r\nURL=http://after-the-read/", readFile(fav_ / "edited.url"));
  EXPECT_TRUE(fs::exists(fav_ / "added.url"));
  EXPECT_TRUE(fs::exists(fav_ / "fresh.url"));
  EXPECT_FALSE(fs::exists(fav_ / "gone.url"));
  EXPECT_FALSE(fs::exists(stagingFolder(fav_)));
}

// A failure at any one file operation of the apply (a file, a folder, a
// rename that is refused once) leaves the Favorites folder and the icons
// folder as they were; the renames done are undone.
TEST_F(WriterTest, AFaultAtAnyStepLeavesEverythingAsItWas) {
  const std::string icon = std::string(kIconDataUriPrefix) + "AAABAAEA";
  const std::string doc =
      document(folderXml("Old", bookmarkXml("inner") + folderXml("Deep", bookmarkXml("d"))) + bookmarkXml("a") +
               "<bookmark><name>pictured</name><link>http://p/</link><iconfile>" + icon + "</iconfile></bookmark>" +
               folderXml("Fresh", bookmarkXml("f1") + bookmarkXml("f2")));
  int failed = 0;
  for (unsigned step = 0; step < 45; ++step) {
    // The first 30 steps are the files and folders of the build, then the
    // renames of the swap.
    const bool rename = step >= 30;
    const unsigned passing = rename ? step - 30 : step;
    SCOPED_TRACE((rename ? "rename " : "write ") + std::to_string(passing));
    for (const fs::path& folder : {fav_, icons_}) {
      for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    }
    fillFavorites();
    const std::set<std::string> before = snapshot(prefix_.path(), fs::path());
    platform::injectFault(rename ? platform::FaultSite::FileMove : platform::FaultSite::FileWrite,
                          platform::kAccessDenied, "", passing, 1);
    const std::u16string error = writeFavorites(doc);
    platform::clearFaults();
    discardMenuOrders();
    if (error.empty()) {
      // The fault met a step that may fail (a missing icons folder writes
      // no icon), or none at all.
      EXPECT_TRUE(fs::exists(fav_ / "Fresh" / "f2.url"));
      continue;
    }
    ++failed;
    EXPECT_EQ(before, snapshot(prefix_.path(), fs::path()));
  }
  EXPECT_GT(failed, 20) << "the apply has fewer steps than expected";
}

TEST_F(WriterTest, ShellDeleteRefusesPathsItCannotTake) {
  const fs::path base = prefix_.path();
  const size_t room = 258 - platform::pathToUtf16(base).size() - 1;
  EXPECT_TRUE(shellDelete(base / std::string(room, 'x')));  // nothing there: no abort
  EXPECT_FALSE(shellDelete(base / std::string(room + 1, 'x')));
  EXPECT_EQ(platform::kFilenameTooLong, platform::lastError());
  EXPECT_TRUE(shellDelete(base / "*.nothing"));
}

}  // namespace
