// A Favorites folder of real shortcut files and stored menu orders read into
// a document, written into an empty Favorites folder elsewhere and read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "plugin/favorites/favorites_test_util.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/reader.h"
#include "plugin/favorites/writer.h"

namespace {

using namespace favorites;
using namespace favorites_test;

constexpr char kBase[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";

// Every item with all its content, each container's items in order-number
// order, so that two documents compare as strings; with numbers or only the
// arrangement they give.
std::string fullTree(const xmlNode* container, bool numbers = true) {
  std::vector<std::pair<int, std::string>> items;
  for (const xmlNode* item = container ? container->children : nullptr; item; item = item->next) {
    if (item->type != XML_ELEMENT_NODE) continue;
    std::string text = "{" + std::string(reinterpret_cast<const char*>(item->name));
    for (const char* tag : {"name", "link", "iconfile", "description", "icon_index", "hotkey"}) {
      if (auto value = exchange::childText(item, tag))
        text += " " + std::string(tag) + "=" + *value;
    }
    const std::string order = exchange::attribute(item, "order").value_or("none");
    if (numbers) text += " @" + order;
    if (exchange::isElement(item, "folder")) {
      text += " [" + fullTree(exchange::firstChildElement(item, "children"), numbers) + "]";
    }
    items.emplace_back(std::atoi(order.c_str()), text + "}");
  }
  std::sort(items.begin(), items.end());
  std::string out;
  for (const auto& item : items) out += item.second;
  return out;
}

void collectOrders(const xmlNode* container, std::vector<std::string>* orders) {
  for (const xmlNode* item = container ? container->children : nullptr; item; item = item->next) {
    if (item->type != XML_ELEMENT_NODE) continue;
    orders->push_back(exchange::attribute(item, "order").value_or("none"));
    if (exchange::isElement(item, "folder")) {
      collectOrders(exchange::firstChildElement(item, "children"), orders);
    }
  }
}

void useIconsFolder(const fs::path& icons) {
  fs::create_directories(icons);
  writeFile(pluginConfigPath(),
            "\r\nicons_folder=" + platform::utf16ToAnsi(platform::pathToUtf16(icons)) + "\\");
}

std::string readDocument(exchange::UniqueXmlDoc* doc) {
  std::string text;
  EXPECT_EQ(u"", readFavorites(&text));
  *doc = exchange::parseDocumentText(text);
  EXPECT_TRUE(*doc);
  return text;
}

using RoundTripTest = FavoritesTest;

TEST_F(RoundTripTest, FolderSurvivesAReadWriteReadRoundTrip) {
  const fs::path fav = favoritesFolder();
  useIconsFolder(prefix_.path() / "icons");
  // The root's stored order (browser records): News.url 3, Tools 0, Daily 7.
  platform::RegKey key;
  ASSERT_EQ(platform::kOk, platform::RegKey::create(platform::RegRoot::CurrentUser, kBase, &key));
  const std::string order = readFile(testdata("orders/browser.bin"));
  key.setValue("Order", platform::kRegBinary, order.data(), static_cast<uint32_t>(order.size()));
  key.close();

  fs::create_directories(fav / "Tools");
  fs::create_directories(fav / "Daily" / "Deeper");
  fs::copy_file(testdata("shortcuts/crlf.url"), fav / "News.url");
  fs::copy_file(testdata("shortcuts/spaces.url"), fav / "Unordered.url");
  fs::copy_file(testdata("shortcuts/data_icon.url"), fav / "Daily" / "Picture.url");
  fs::copy_file(testdata("shortcuts/utf16.url"), fav / "Daily" / "Wide.url");
  writeFile(prefix_.path() / "site.ico", std::string("\x00\x00\x01\x00\x01\x00", 6) + "pixels");
  writeFile(fav / "Daily" / "Deeper" / "Iconic.url",
            "[InternetShortcut]\r\nURL=http://iconic/\r\nIconFile=" +
                platform::utf16ToAnsi(platform::pathToUtf16(prefix_.path() / "site.ico")) +
                "\r\nIconIndex=0\r\n");

  exchange::UniqueXmlDoc first;
  const std::string text = readDocument(&first);
  flushMenuOrders();  // the end of the run

  // Every item has a position, and no two share one.
  std::vector<std::string> orders;
  collectOrders(exchange::rootElement(first.get()), &orders);
  EXPECT_EQ(7u, orders.size());
  std::set<std::string> unique(orders.begin(), orders.end());
  EXPECT_EQ(orders.size(), unique.size());
  EXPECT_EQ(0u, unique.count("none"));
  const std::string expected = fullTree(exchange::rootElement(first.get()));
  EXPECT_NE(std::string::npos, expected.find("iconfile=data:image/x-ico;base64,AAABAAEAcGl4ZWxz"));
  EXPECT_NE(std::string::npos,
            expected.find("iconfile=data:image/png;base64,iVBORw0K\r\nGgoAAAAN\r\nSUhEUgAA\r\n"));

  // Another user's computer: an empty Favorites folder and no stored order.
  testsupport::TempPrefix other;
  favoritesFolder();
  useIconsFolder(other.path() / "icons");
  ASSERT_EQ(u"", writeFavorites(text));
  flushMenuOrders();
  exchange::UniqueXmlDoc second;
  const std::string secondText = readDocument(&second);
  flushMenuOrders();
  // The stored order is dense (0, 1, 2 ... per folder) where the browser's
  // had gaps (0, 3, 7): the same arrangement, numbered without the gaps.
  EXPECT_EQ(fullTree(exchange::rootElement(first.get()), false),
            fullTree(exchange::rootElement(second.get()), false));
  const std::string dense = fullTree(exchange::rootElement(second.get()));
  EXPECT_NE(std::string::npos, dense.find("name=Unordered link=http://spaces.example.org/ "
                                          "icon_index=0 @6}"));

  // From then on every number comes back as it was.
  testsupport::TempPrefix third;
  favoritesFolder();
  useIconsFolder(third.path() / "icons");
  ASSERT_EQ(u"", writeFavorites(secondText));
  flushMenuOrders();
  exchange::UniqueXmlDoc last;
  readDocument(&last);
  EXPECT_EQ(dense, fullTree(exchange::rootElement(last.get())));
}

}  // namespace
