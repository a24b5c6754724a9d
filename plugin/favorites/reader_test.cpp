#include "plugin/favorites/reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <set>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/faults.h"
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
  favoritesFolder();
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

TEST_F(ReaderTest, AnyFailureGivesNoDocumentAtAll) {
  const fs::path fav = favoritesFolder();
  shortcut(fav / "good.url", "http://good/");
  fs::create_directories(fav / "Deep" / "Deeper");
  platform::injectFault(platform::FaultSite::FileRead, platform::kAccessDenied, "Deeper");
  std::string text = "unchanged";
  const std::u16string error = readFavorites(&text);
  platform::clearFaults();
  EXPECT_EQ(u"Access is denied.\r\n", error);
  EXPECT_EQ("unchanged", text);
}

TEST_F(ReaderTest, AMissingFavoritesFolderIsAFailureAndIsNotCreated) {
  std::string text = "unchanged";
  EXPECT_EQ(u"The system cannot find the path specified.\r\n", readFavorites(&text));
  EXPECT_EQ("unchanged", text);
  EXPECT_FALSE(fs::exists(prefix_.path() / "profile" / "Favorites"));
}

// Entries a document cannot carry, or that the writer could not create
// again, stay out of the document and out of what the writer may replace.
TEST_F(ReaderTest, EntriesThatCannotBeCarriedAreLeftOut) {
  const fs::path fav = favoritesFolder();
  const size_t room = kMaxFolderPath - platform::pathToUtf16(fav).size() - 1;
  struct Row {
    const char* what;
    fs::path path;  // below the Favorites folder
    bool folder;
  } rows[] = {
      {"backslash", "a\\b.url", false},
      {"nothing before the extension", ".url", false},
      {"a dot", "..url", false},
      {"two dots", "...url", false},
      {"Latin-1 name", "Caf\xe9.url", false},
      {"the same name but one Latin-1 byte", "Caf\xe8.url", false},
      {"Latin-1 folder", "R\xe9sum\xe9", true},
      {"backslash folder", "x\\y", true},
      {"folder path past the limit", std::string(room + 1, 'F'), true},
      {"file path past the limit", fs::path(std::string(room, 'G')) / (std::string(12, 'h') + ".url"), false},
  };
  for (const Row& row : rows) {
    if (row.folder) {
      fs::create_directories(fav / row.path);
      shortcut(fav / row.path / "inside.url", "http://inside/");
    } else {
      fs::create_directories((fav / row.path).parent_path());
      shortcut(fav / row.path, "http://left-out/");
    }
  }
  shortcut(fav / "Caf\xc3\xa9.url", "http://cafe/");
  shortcut(fav / "Same.url", "http://same/");
  shortcut(fav / "Same.URL", "http://same-too/");
  writeFile(fav / "Huge.url", "[InternetShortcut]\r\nURL=http://huge/\r\n" +
                                  std::string(kMaxShortcutFileSize, ' '));

  std::string text;
  ReadSet read;
  ASSERT_EQ(u"", readFavorites(&text, &read));
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(text);
  ASSERT_TRUE(doc);
  // One of Same.url and Same.URL, whichever the listing gives first; the
  // folder of the long file path is carried, the file is not.
  const std::string tree = std::regex_replace(sortedTree(exchange::rootElement(doc.get())), std::regex("@[0-9]+"), "");
  EXPECT_EQ("Caf\xc3\xa9 " + std::string(room, 'G') + ":[] Same", tree);
  EXPECT_EQ(3u, read.size());
}

}  // namespace
