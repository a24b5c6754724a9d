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

// Every path below the prefix, outside the Favorites folder and the registry.
std::set<std::string> snapshot(const fs::path& root, const fs::path& favorites) {
  std::set<std::string> paths;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    const fs::path& path = it->path();
    if (path == favorites) {
      it.disable_recursion_pending();
      continue;
    }
    if (path.parent_path().filename() == "registry") continue;
    paths.insert(path.string());
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

TEST_F(WriterTest, ClearsSubFoldersShortcutsAndIconsOnly) {
  fillFavorites();
  ASSERT_EQ(u"", writeFavorites(document("")));
  EXPECT_FALSE(fs::exists(fav_ / "Old"));
  EXPECT_FALSE(fs::exists(fav_ / "Old2"));
  EXPECT_FALSE(fs::exists(fav_ / "a.url"));
  EXPECT_FALSE(fs::exists(fav_ / "B.URL"));
  EXPECT_TRUE(fs::exists(fav_ / "desktop.ini"));
  EXPECT_TRUE(fs::exists(fav_ / "keep.lnk"));
  EXPECT_FALSE(fs::exists(icons_ / "icon1.ico"));
  EXPECT_TRUE(fs::exists(icons_ / "keep.txt"));
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

TEST_F(WriterTest, LinksInFavoritesAreRemovedNotFollowed) {
  testsupport::TempDir outside;
  writeFile(outside.path() / "precious.url", "[InternetShortcut]\r\nURL=http://p/");
  fs::create_directory_symlink(outside.path(), fav_ / "linked");
  ASSERT_EQ(u"", writeFavorites(document(bookmarkXml("new"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(fav_ / "linked")));
  EXPECT_TRUE(fs::exists(outside.path() / "precious.url"));
  EXPECT_TRUE(fs::exists(fav_ / "new.url"));
}

TEST_F(WriterTest, ErrorsAreCollectedAndTheOtherItemsWritten) {
  const std::u16string sub = platform::pathToUtf16(fav_ / "Sub");
  const std::string doc =
      document(folderXml("Dup", bookmarkXml("x")) + folderXml("Dup", bookmarkXml("y")) +
               bookmarkXml("after") + "<separator/>" +
               folderXml("Sub", bookmarkXml("a/b") + bookmarkXml("ok") + bookmarkXml("..") +
                                    bookmarkXml("")));
  const std::u16string expected = systemText(platform::kAlreadyExists) + u"\r\n" +
                                  u"Can not create file " + sub + u"\\a/b.url\r\n" +
                                  u"Can not create file " + sub + u"\\...url\r\n" +
                                  u"Can not create file " + sub + u"\\.url";
  EXPECT_EQ(expected, writeFavorites(doc));
  EXPECT_TRUE(fs::exists(fav_ / "Dup" / "x.url"));
  EXPECT_FALSE(fs::exists(fav_ / "Dup" / "y.url"));
  EXPECT_TRUE(fs::exists(fav_ / "after.url"));
  EXPECT_TRUE(fs::exists(fav_ / "Sub" / "ok.url"));
  // Dup, after.url, Sub; the separator made nothing.
  EXPECT_EQ(3, std::distance(fs::directory_iterator(fav_), fs::directory_iterator()));
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
  EXPECT_EQ(1, std::distance(fs::directory_iterator(fav_), fs::directory_iterator()));
  EXPECT_TRUE(fs::is_empty(fav_ / "Fine"));
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

TEST_F(WriterTest, FoldersTooLongToDeleteAgainAreNotCreated) {
  const size_t room = 247 - platform::pathToUtf16(fav_).size() - 1;
  const std::string longest(room, 'L');
  const std::string tooLong(room + 1, 'T');
  EXPECT_EQ(systemText(platform::kFilenameTooLong),
            writeFavorites(document(folderXml(longest, "") + folderXml(tooLong, ""))));
  EXPECT_TRUE(fs::is_directory(fav_ / longest));
  EXPECT_FALSE(fs::exists(fav_ / tooLong));
  EXPECT_EQ(u"", writeFavorites(document("")));  // and the next apply can delete it
  EXPECT_FALSE(fs::exists(fav_ / longest));
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
