#include "plugin/favorites/reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "exchange/document.h"
#include "platform/registry.h"
#include "plugin/favorites/favorites_test_util.h"

namespace {

using namespace favorites;
using namespace favorites_test;

constexpr char kBase[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";

// The items of a container with their orders, each level sorted by name, so
// that the listing order of the file system does not matter.
std::string sortedTree(const xmlNode* container) {
  std::vector<std::string> items;
  for (const xmlNode* item = container ? container->children : nullptr; item; item = item->next) {
    if (item->type != XML_ELEMENT_NODE) continue;
    std::string text = exchange::childText(item, exchange::kNameElement).value_or("?");
    if (auto order = exchange::attribute(item, exchange::kOrderAttribute)) text += "@" + *order;
    if (exchange::isElement(item, exchange::kFolderElement)) {
      text +=
          ":[" + sortedTree(exchange::firstChildElement(item, exchange::kChildrenElement)) + "]";
    }
    items.push_back(text);
  }
  std::sort(items.begin(), items.end());
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : " ") + item;
  return out;
}

void shortcut(const fs::path& path, const std::string& link) {
  writeFile(path, "[InternetShortcut]\r\nURL=" + link + "\r\n");
}

class ReaderTest : public FavoritesTest {
 protected:
  void SetUp() override {
    FavoritesTest::SetUp();
    doc_ = exchange::newDocument();
    root_ = exchange::rootElement(doc_.get());
  }
  exchange::UniqueXmlDoc doc_;
  xmlNode* root_ = nullptr;
};

TEST_F(ReaderTest, EmptyFavoritesGiveAnEmptyFullDocument) {
  std::string text;
  ASSERT_EQ(u"", readFavorites(&text));
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(text);
  ASSERT_TRUE(doc);
  xmlNode* root = exchange::rootElement(doc.get());
  EXPECT_TRUE(exchange::isElement(root, "bookmarks"));
  EXPECT_EQ("full", exchange::attribute(root, "type"));
  std::string stamp = exchange::attribute(root, "timestamp").value_or("");
  EXPECT_EQ(19u, stamp.size());
  EXPECT_FALSE(exchange::hasElementChild(root));
  EXPECT_NE(std::string::npos, text.find("<!DOCTYPE bookmarks PUBLIC"));
}

TEST_F(ReaderTest, WalkTurnsFoldersAndShortcutFilesIntoItems) {
  const fs::path fav = favoritesFolder();
  fs::create_directories(fav / "News" / "Daily");
  fs::create_directory(fav / "Caf\xc3\xa9");
  shortcut(fav / "News" / "a.url", "http://a/");
  shortcut(fav / "B.URL", "http://b/");
  shortcut(fav / "c.url.txt", "http://c/");
  shortcut(fav / "d.lnk", "http://d/");
  writeFile(fav / "desktop.ini", "[.ShellClassInfo]\r\n");
  writeFile(fav / "notashortcut.url", "[DEFAULT]\r\nBASEURL=http://e/\r\n");
  ASSERT_EQ(0, mkfifo((fav / "pipe.url").c_str(), 0600));  // would block a read for ever
  ASSERT_EQ(u"", readFavoritesFolder(fav, root_, u""));
  // A file without "[InternetShortcut]" gives no item and no error.
  EXPECT_EQ("B Caf\xc3\xa9:[] News:[Daily:[] a]", sortedTree(root_));
}

TEST_F(ReaderTest, OrdersComeFromTheStoredMenuOrder) {
  const fs::path fav = favoritesFolder();
  // browser.bin: News.url 3, folder Tools 0, Café.url -5, folder Daily 7.
  platform::RegKey key;
  ASSERT_EQ(platform::kOk, platform::RegKey::create(platform::RegRoot::CurrentUser, kBase, &key));
  const std::string value = readFile(testdata("orders/browser.bin"));
  key.setValue("Order", platform::kRegBinary, value.data(), static_cast<uint32_t>(value.size()));
  for (const char* folder : {"Tools", "Daily", "Other"}) fs::create_directory(fav / folder);
  for (const char* file : {"News.url", "Caf\xc3\xa9.url", "plain.url"})
    shortcut(fav / file, "http://x/");
  ASSERT_EQ(u"", readFavoritesFolder(fav, root_, u""));
  EXPECT_EQ("Caf\xc3\xa9@-5 Daily@7:[] News@3 Other:[] Tools@0:[] plain", sortedTree(root_));
}

TEST_F(ReaderTest, LinksToDirectoriesAreNeverFollowed) {
  const fs::path fav = favoritesFolder();
  testsupport::TempDir outside;
  shortcut(outside.path() / "outside.url", "http://outside/");
  fs::create_directory_symlink(outside.path(), fav / "out");
  fs::create_directory_symlink(fav, fav / "loop");
  shortcut(fav / "in.url", "http://in/");
  ASSERT_EQ(u"", readFavoritesFolder(fav, root_, u""));
  EXPECT_EQ("in", sortedTree(root_));
}

// A folder whose full path is longer than the system allows cannot be listed,
// whoever runs the test.
void makeUnlistableFolder(const fs::path& under) {
  const std::string name(200, 'd');
  int fd = open(under.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int depth = 0; depth < 25; ++depth) {
    ASSERT_EQ(0, mkdirat(fd, name.c_str(), 0755));
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  close(fd);
}

TEST_F(ReaderTest, AnyFailureGivesNoDocumentAtAll) {
  const fs::path fav = favoritesFolder();
  shortcut(fav / "good.url", "http://good/");
  fs::create_directory(fav / "Deep");
  makeUnlistableFolder(fav / "Deep");
  std::string text = "unchanged";
  const std::u16string error = readFavorites(&text);
  EXPECT_NE(u"", error);
  EXPECT_EQ("unchanged", text);
}

}  // namespace
