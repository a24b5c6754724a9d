#include "plugin/favorites/menu_order.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "plugin/favorites/favorites_test_util.h"

namespace {

using namespace favorites;
using namespace favorites_test;

constexpr char kBase[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";

void storeOrder(const std::string& keyPath, uint32_t type, const std::string& bytes) {
  platform::RegKey key;
  ASSERT_EQ(platform::kOk, platform::RegKey::create(platform::RegRoot::CurrentUser, keyPath, &key));
  ASSERT_EQ(platform::kOk,
            key.setValue("Order", type, bytes.data(), static_cast<uint32_t>(bytes.size())));
}

// The stored "Order" value of a key, or nothing.
std::optional<std::string> storedOrder(const std::string& keyPath) {
  platform::RegKey key;
  if (platform::RegKey::open(platform::RegRoot::CurrentUser, keyPath, &key) != platform::kOk) {
    return std::nullopt;
  }
  platform::RegValue value;
  if (key.readValue("Order", &value) != platform::kOk) return std::nullopt;
  EXPECT_EQ(platform::kRegBinary, value.type);
  return value.data;
}

using MenuOrderTest = FavoritesTest;

TEST_F(MenuOrderTest, SubFolderKeysFollowTheRelativePath) {
  EXPECT_EQ(std::string(kBase), menuOrderKeyPath(u""));
  EXPECT_EQ(std::string(kBase) + "\\News\\Daily", menuOrderKeyPath(u"\\News\\Daily"));
}

TEST_F(MenuOrderTest, LookupsUseTheStoredValueWithoutCase) {
  storeOrder(kBase, platform::kRegBinary, readFile(testdata("orders/browser.bin")));
  MenuOrderFolder* folder = menuOrderFor(u"");
  ASSERT_NE(nullptr, folder);
  EXPECT_EQ(3, folder->lookupPosition(u"NEWS.URL", ItemKind::File));
  EXPECT_TRUE(folder->loaded());
  EXPECT_EQ(0, folder->lookupPosition(u"tools", ItemKind::Folder));
  EXPECT_EQ(-1, folder->lookupPosition(u"Tools", ItemKind::File));
  EXPECT_EQ(-5, folder->lookupPosition(u"caf\u00e9.url", ItemKind::File));
  // Only A to Z fold.
  EXPECT_EQ(-1, folder->lookupPosition(u"CAF\u00c9.URL", ItemKind::File));
  EXPECT_EQ(-1, folder->lookupPosition(u"missing.url", ItemKind::File));
  EXPECT_EQ(folder, menuOrderFor(u""));
}

TEST_F(MenuOrderTest, UnreadableValuesGiveNoPositions) {
  struct Row {
    const char* what;
    uint32_t type;
    std::string bytes;
    bool loaded;
  } rows[] = {
      {"record count 0", platform::kRegBinary, readFile(testdata("orders/empty.bin")), true},
      {"string value", platform::kRegSz, readFile(testdata("orders/browser.bin")), false},
      {"empty value", platform::kRegBinary, "", false},
  };
  int n = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::u16string relative = u"\\F" + std::u16string(1, static_cast<char16_t>(u'0' + n++));
    storeOrder(kBase + platform::utf16ToUtf8(relative), row.type, row.bytes);
    MenuOrderFolder* folder = menuOrderFor(relative);
    EXPECT_EQ(-1, folder->lookupPosition(u"News.url", ItemKind::File));
    EXPECT_EQ(row.loaded, folder->loaded());
  }
}

TEST_F(MenuOrderTest, MissingValueIsTriedAgainAtTheNextLookup) {
  MenuOrderFolder* folder = menuOrderFor(u"\\News");
  EXPECT_EQ(-1, folder->lookupPosition(u"News.url", ItemKind::File));
  EXPECT_FALSE(folder->loaded());
  storeOrder(std::string(kBase) + "\\News", platform::kRegBinary,
             readFile(testdata("orders/browser.bin")));
  EXPECT_EQ(3, folder->lookupPosition(u"News.url", ItemKind::File));
}

TEST_F(MenuOrderTest, FlushStoresEveryWrittenFolderAndEmptiesTheCache) {
  const std::string previous = readFile(testdata("orders/browser.bin"));
  storeOrder(std::string(kBase) + "\\Untouched", platform::kRegBinary, previous);
  menuOrderFor(u"")->addEntry(u"a.url", u"", ItemKind::File, 9);
  menuOrderFor(u"\\News")->addEntry(u"Daily", u"", ItemKind::Folder, -1);
  menuOrderFor(u"\\Untouched");  // only looked at: nothing to store
  menuOrderFor(u"\\Lookups")->lookupPosition(u"x.url", ItemKind::File);
  flushMenuOrders();

  MenuOrderEntry a{u"a.url", u"", ItemKind::File, 0};
  MenuOrderEntry daily{u"Daily", u"", ItemKind::Folder, 0};
  EXPECT_EQ(encodeOrderValue({a}), storedOrder(kBase));
  EXPECT_EQ(encodeOrderValue({daily}), storedOrder(std::string(kBase) + "\\News"));
  EXPECT_EQ(previous, storedOrder(std::string(kBase) + "\\Untouched"));
  EXPECT_FALSE(storedOrder(std::string(kBase) + "\\Lookups"));
  // A new run starts afresh.
  EXPECT_FALSE(menuOrderFor(u"")->loaded());
  EXPECT_EQ(0, menuOrderFor(u"")->lookupPosition(u"A.URL", ItemKind::File));
}

}  // namespace
