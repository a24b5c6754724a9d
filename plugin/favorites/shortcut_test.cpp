#include "plugin/favorites/shortcut.h"

#include <gtest/gtest.h>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "plugin/favorites/base64.h"
#include "plugin/favorites/favorites_test_util.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/menu_order.h"

namespace {

using namespace favorites;
using namespace favorites_test;

// A bookmark element's children as "tag=text" joined by "|", and its order.
std::string describe(const xmlNode* bookmark) {
  std::string out;
  for (const xmlNode* child = bookmark->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    if (!out.empty()) out += "|";
    out += reinterpret_cast<const char*>(child->name) + std::string("=") +
           exchange::textContent(child);
  }
  if (auto order = exchange::attribute(bookmark, exchange::kOrderAttribute)) out += "|@" + *order;
  return out;
}

class ShortcutTest : public FavoritesTest {
 protected:
  void SetUp() override {
    FavoritesTest::SetUp();
    doc_ = exchange::newDocument();
    root_ = exchange::rootElement(doc_.get());
    folder_ = prefix_.path() / "folder";
    fs::create_directory(folder_);
    icons_ = prefix_.path() / "icons";
    fs::create_directory(icons_);
    writeFile(pluginConfigPath(),
              "\r\nicons_folder=" + platform::utf16ToAnsi(platform::pathToUtf16(icons_)) + "\\");
  }

  // Reads a file and describes the bookmark it gave ("" for none).
  std::string readBack(const fs::path& file, const std::u16string& relativePath = u"") {
    xmlNode* parent = exchange::addElement(root_, "children");
    std::u16string error = readInternetShortcut(file, parent, relativePath);
    EXPECT_EQ(u"", error);
    const xmlNode* bookmark = exchange::firstChildElement(parent, "bookmark");
    return bookmark ? describe(bookmark) : "";
  }

  xmlNode* bookmark(const std::string& name, const std::string& link) {
    xmlNode* item = exchange::addElement(root_, "bookmark");
    exchange::addTextElement(item, "name", name);
    exchange::addTextElement(item, "link", link);
    return item;
  }

  exchange::UniqueXmlDoc doc_;
  xmlNode* root_ = nullptr;
  fs::path folder_;
  fs::path icons_;
};

TEST(ShortcutValueTest, KeysAreFoundAtLineStartsOnly) {
  struct Row {
    const char* text;
    const char* key;
    bool found;
    const char* value;
  } rows[] = {
      {"[InternetShortcut]\r\nURL=http://a/\r\n", "URL", true, "http://a/"},
      {"x\nURL   =  http://a/ \t\r\n", "URL", true, "http://a/"},
      {"x\nURL=", "URL", true, ""},
      {"x\nURLX=http://wrong/\nURL=http://a/", "URL", false, ""},  // first occurrence only
      {"xURL=http://a/", "URL", false, ""},
      {"x\nurl=http://a/", "URL", false, ""},  // exact letter case
      {"x\nDescription=caf\xe9\r\n", "Description", true, "caf\xe9"},
      {"x\nDescription=tab\x01\x02", "Description", true, "tab"},
      {"x\nHotkey=12\x01", "Hotkey", true, "12\x01"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    std::string value = "unchanged";
    EXPECT_EQ(row.found, readShortcutValue(row.text, row.key, &value));
    if (row.found) {
      EXPECT_EQ(row.value, value);
    }
  }
}

TEST(ShortcutValueTest, SavedInputsSurviveWritingAndReading) {
  for (const auto& entry : fs::directory_iterator(testdata("shortcuts"))) {
    SCOPED_TRACE(entry.path().string());
    std::optional<ShortcutFields> fields = parseShortcutText(readFile(entry.path()));
    if (!fields) continue;
    ShortcutContent content{fields->link, fields->iconFile, std::nullopt, std::nullopt,
                            fields->description};
    if (fields->iconIndex != -1) content.iconIndex = std::to_string(fields->iconIndex);
    if (fields->hotkey != -1) content.hotkey = std::to_string(fields->hotkey);
    std::optional<ShortcutFields> again = parseShortcutText(buildShortcutText(content));
    ASSERT_TRUE(again);
    EXPECT_EQ(fields->link, again->link);
    EXPECT_EQ(fields->description, again->description);
    EXPECT_EQ(fields->iconFile, again->iconFile);
    EXPECT_EQ(fields->iconIndex == -1 && !fields->iconFile.empty() ? 0 : fields->iconIndex,
              again->iconIndex);
    EXPECT_EQ(fields->hotkey, again->hotkey);
  }
}

TEST_F(ShortcutTest, ReadsBrowserFiles) {
  struct Row {
    const char* file;
    std::string described;
  } rows[] = {
      // BASEURL is never read; the description's é arrives in UTF-8.
      {"crlf.url",
       "name=crlf|link=http://www.example.org/news?a=1&b=2|description=Nouvelles du caf\xc3\xa9|"
       "icon_index=3|hotkey=1601"},
      {"utf16.url", ""},
      {"data_icon.url",
       "name=data_icon|link=http://icons.example.org/|"
       "iconfile=data:image/png;base64,iVBORw0K\r\nGgoAAAAN\r\nSUhEUgAA\r\n|icon_index=0"},
      // A non-numeric IconIndex reads 0, a Hotkey of -1 counts as none.
      {"spaces.url", "name=spaces|link=http://spaces.example.org/|icon_index=0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    EXPECT_EQ(row.described, readBack(testdata(std::string("shortcuts/") + row.file)));
  }
}

TEST_F(ShortcutTest, ReadErrorsNameTheFile) {
  xmlNode* parent = exchange::addElement(root_, "children");
  const fs::path missing = folder_ / "missing.url";
  EXPECT_EQ(u"Error while opening file: " + platform::pathToUtf16(missing),
            readInternetShortcut(missing, parent, u""));
  EXPECT_EQ(nullptr, parent->children);
}

TEST_F(ShortcutTest, OrderComesFromTheFoldersMenuOrder) {
  MenuOrderFolder* order = menuOrderFor(u"\\News");
  // Stored through the registry in the normal way.
  order->addEntry(u"pos.url", u"", ItemKind::File, 4);
  flushMenuOrders();
  writeFile(folder_ / "pos.url", "[InternetShortcut]\r\nURL=http://p/");
  writeFile(folder_ / "none.url", "[InternetShortcut]\r\nURL=http://n/");
  EXPECT_EQ("name=pos|link=http://p/|@0", readBack(folder_ / "pos.url", u"\\News"));
  EXPECT_EQ("name=none|link=http://n/", readBack(folder_ / "none.url", u"\\News"));
}

TEST_F(ShortcutTest, WritesTheExactLayout) {
  struct Row {
    const char* what;
    std::vector<std::pair<const char*, const char*>> children;
    std::string bytes;
  } rows[] = {
      {"link only", {}, "[DEFAULT]\r\nBASEURL=http://a/\r\n[InternetShortcut]\r\nURL=http://a/"},
      {"icon without index",
       {{"iconfile", "http://a/favicon.ico"}, {"description", ""}},
       "[DEFAULT]\r\nBASEURL=http://a/\r\n[InternetShortcut]\r\nURL=http://a/"
       "\r\nIconFile=http://a/favicon.ico\r\nIconIndex=0"},
      {"everything",
       {{"description", "caf\xc3\xa9 & more"},
        {"hotkey", "1601"},
        {"icon_index", "2"},
        {"iconfile", "C:\\Windows\\system32\\shell32.dll"}},
       "[DEFAULT]\r\nBASEURL=http://a/\r\n[InternetShortcut]\r\nURL=http://a/"
       "\r\nIconFile=C:\\Windows\\system32\\shell32.dll\r\nIconIndex=2\r\nHotkey=1601\r\nDescription=caf\xe9 & more"},
      {"empty index and hot key",
       {{"icon_index", ""}, {"hotkey", ""}},
       "[DEFAULT]\r\nBASEURL=http://a/\r\n[InternetShortcut]\r\nURL=http://a/"
       "\r\nIconIndex=\r\nHotkey="},
      {"unrepresentable character",
       {{"description", "\xe2\x82\xac and \xe4\xb8\xad"}},
       "[DEFAULT]\r\nBASEURL=http://a/\r\n[InternetShortcut]\r\nURL=http://a/"
       "\r\nDescription=\x80 and ?"},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string name = "b" + std::to_string(n++);
    xmlNode* item = bookmark(name, "http://a/");
    for (const auto& [tag, text] : row.children) exchange::addTextElement(item, tag, text);
    ASSERT_EQ(u"", writeInternetShortcut(folder_, item, u""));
    EXPECT_EQ(row.bytes, readFile(folder_ / (name + ".url")));
  }
}

TEST_F(ShortcutTest, ValuesCannotAddLines) {
  xmlNode* item = bookmark("evil", "http://x/\r\nIconFile=\\\\evil\\share\\a.ico");
  exchange::addTextElement(item, "description", "line\r\n[InternetShortcut]\r\nURL=http://y/");
  exchange::addTextElement(item, "hotkey", "1\nIconFile=x");
  exchange::addTextElement(item, "icon_index", "2\r\nHotkey=3");
  ASSERT_EQ(u"", writeInternetShortcut(folder_, item, u""));
  EXPECT_EQ(
      "[DEFAULT]\r\nBASEURL=http://x/IconFile=\\\\evil\\share\\a.ico\r\n[InternetShortcut]"
      "\r\nURL=http://x/IconFile=\\\\evil\\share\\a.ico\r\nIconIndex=2Hotkey=3"
      "\r\nHotkey=1IconFile=x\r\nDescription=line[InternetShortcut]URL=http://y/",
      readFile(folder_ / "evil.url"));

  // An embedded image of another type keeps its lines and reads back whole.
  xmlNode* image = bookmark("image", "http://i/");
  exchange::addTextElement(image, "iconfile", "data:image/png;base64,AAAA\r\nBBBB\r\n");
  ASSERT_EQ(u"", writeInternetShortcut(folder_, image, u""));
  EXPECT_EQ(
      "name=image|link=http://i/|iconfile=data:image/png;base64,AAAA\r\nBBBB\r\n|"
      "icon_index=0",
      readBack(folder_ / "image.url"));
}

TEST_F(ShortcutTest, RefusesNamesThatLeaveTheFolder) {
  const std::vector<std::string> names = {"", ".", "..", "../outside", "a/b", "..\\outside"};
  const size_t before =
      std::distance(fs::directory_iterator(prefix_.path()), fs::directory_iterator());
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    xmlNode* item = exchange::addElement(root_, "bookmark");
    exchange::addTextElement(item, "name", name);
    exchange::addTextElement(item, "link", "http://a/");
    const std::u16string expected = u"Can not create file " + platform::pathToUtf16(folder_) +
                                    u"\\" + platform::utf8ToUtf16(name) + u".url";
    EXPECT_EQ(expected, writeInternetShortcut(folder_, item, u""));
  }
  EXPECT_TRUE(fs::is_empty(folder_));
  EXPECT_EQ(before,
            std::distance(fs::directory_iterator(prefix_.path()), fs::directory_iterator()));
  EXPECT_FALSE(fs::exists(prefix_.path() / "outside.url"));
  EXPECT_EQ("", menuOrderFor(u"")->buildOrderValue());
}

TEST_F(ShortcutTest, SameNameTwiceOverwritesTheFirstFile) {
  ASSERT_EQ(u"", writeInternetShortcut(folder_, bookmark("twice", "http://first/"), u""));
  ASSERT_EQ(u"", writeInternetShortcut(folder_, bookmark("twice", "http://second/"), u""));
  EXPECT_EQ("name=twice|link=http://second/", readBack(folder_ / "twice.url"));
}

TEST_F(ShortcutTest, WriteFailuresAreReported) {
  fs::create_directory(folder_ / "taken.url");
  xmlNode* item = bookmark("taken", "http://a/");
  exchange::setAttribute(item, "order", "7");
  EXPECT_EQ(u"Can not create file " + platform::pathToUtf16(folder_ / "taken.url"),
            writeInternetShortcut(folder_, item, u""));
  // The menu-order entry stays.
  EXPECT_EQ(encodeOrderValue({{u"taken.url", u"", ItemKind::File, 0}}),
            menuOrderFor(u"")->buildOrderValue());
}

TEST_F(ShortcutTest, EmbeddedIconsBecomeFilesAndTravelBack) {
  const std::string icon = std::string("\x00\x00\x01\x00", 4) + "icon bytes";
  xmlNode* item = bookmark("with icon", "http://a/");
  exchange::addTextElement(item, "iconfile", std::string(kIconDataUriPrefix) + base64Encode(icon));
  ASSERT_EQ(u"", writeInternetShortcut(folder_, item, u""));
  const std::string text = readFile(folder_ / "with icon.url");
  std::string value;
  ASSERT_TRUE(readShortcutValue(text, "IconFile", &value));
  const fs::path file = platform::pathFromUtf16(platform::ansiToUtf16(value));
  EXPECT_EQ(icons_, file.parent_path());
  EXPECT_EQ(icon, readFile(file));
  EXPECT_NE(std::string::npos, text.find("\r\nIconIndex=0"));
  EXPECT_EQ("name=with icon|link=http://a/|iconfile=" + std::string(kIconDataUriPrefix) +
                base64Encode(icon) + "|icon_index=0",
            readBack(folder_ / "with icon.url"));

  // Data that does not decode leaves an empty value and writes no file.
  xmlNode* broken = bookmark("broken", "http://a/");
  exchange::addTextElement(broken, "iconfile", std::string(kIconDataUriPrefix) + "Q");
  ASSERT_EQ(u"", writeInternetShortcut(folder_, broken, u""));
  EXPECT_NE(std::string::npos, readFile(folder_ / "broken.url").find("\r\nIconFile=\r\n"));
  EXPECT_EQ(1, std::distance(fs::directory_iterator(icons_), fs::directory_iterator()));
}

// A document cannot make this computer read and send a local file: an icon
// path the reader would embed is written only when it names a file of the
// icons folder.
TEST_F(ShortcutTest, IconPathsFromADocumentStayInTheIconsFolder) {
  writeFile(prefix_.path() / "secret.ico", "not for the service");
  writeFile(icons_ / "icon1a.ico", "ours");
  auto ansi = [](const fs::path& path) { return platform::utf16ToAnsi(platform::pathToUtf16(path)); };
  struct Row {
    std::string value;
    bool kept;
  } rows[] = {
      {ansi(prefix_.path() / "secret.ico"), false},
      {ansi(icons_ / ".." / "secret.ico"), false},
      {"C:\\Users\\me\\secret.ico", false},
      {ansi(icons_ / "icon1a.ico"), true},
      {"http://a/favicon.ico", true},
      {"favicon.ico", true},
      {"C:\\Windows\\system32\\shell32.dll", true},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.value);
    const std::string name = "icon" + std::to_string(n++);
    xmlNode* item = bookmark(name, "http://a/");
    exchange::addTextElement(item, "iconfile", row.value);
    ASSERT_EQ(u"", writeInternetShortcut(folder_, item, u""));
    const std::string text = readFile(folder_ / (name + ".url"));
    std::string value;
    EXPECT_EQ(row.kept, readShortcutValue(text, "IconFile", &value)) << text;
    if (row.kept) {
      EXPECT_EQ(row.value, value);
    }
    EXPECT_EQ(std::string::npos, readBack(folder_ / (name + ".url")).find("bm90IGZvciB0aGUgc2VydmljZQ"));
  }
}

}  // namespace
