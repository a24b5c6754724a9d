#include "plugin/favorites/order_value.h"

#include <gtest/gtest.h>

#include "plugin/favorites/favorites_test_util.h"
#include "plugin/favorites/menu_order.h"

namespace {

using namespace favorites;
using namespace favorites_test;

// One record as the layout table gives it, without a short name.
std::string expectedRecord(const std::string& name, ItemKind kind, int32_t position) {
  const bool folder = kind == ItemKind::Folder;
  const uint32_t size = static_cast<uint32_t>(2 * name.size() + 31);
  return le32(size) + le32(static_cast<uint32_t>(position)) + le16(size - 15) +
         le16(folder ? 0x35 : 0x36) + zeros(8) + le16(folder ? 0x10 : 0x20) + utf16z(name) +
         zeros(3) + std::string(1, folder ? '\x0D' : '\x05') + zeros(3);
}

std::string expectedValue(const std::string& records, uint32_t count) {
  return le32(8) + le32(2) + le32(static_cast<uint32_t>(20 + records.size() - 8)) + le32(1) +
         le32(count) + records;
}

// A bookmark at 40, a folder at 12 and a bookmark without a position: the
// unpositioned one sorts at 2 (the number of positioned entries), below 12,
// so it becomes 0, the folder 1 and the bookmark at 40 becomes 2. Stored:
// the folder first, then the bookmarks by name without case.
TEST(OrderValueTest, WorkedExampleIsStoredByteForByte) {
  MenuOrderFolder folder(u"");
  folder.addEntry(u"zeta.url", u"", ItemKind::File, 40);
  folder.addEntry(u"Tools", u"", ItemKind::Folder, 12);
  folder.addEntry(u"Alpha.url", u"", ItemKind::File, -1);
  const std::string records = expectedRecord("Tools", ItemKind::Folder, 1) +
                              expectedRecord("Alpha.url", ItemKind::File, 0) +
                              expectedRecord("zeta.url", ItemKind::File, 2);
  EXPECT_EQ(expectedValue(records, 3), folder.buildOrderValue());
}

TEST(OrderValueTest, SamePositionTwiceKeepsTheLaterEntry) {
  MenuOrderFolder folder(u"");
  folder.addEntry(u"first.url", u"", ItemKind::File, 5);
  folder.addEntry(u"second.url", u"", ItemKind::File, 5);
  EXPECT_EQ(expectedValue(expectedRecord("second.url", ItemKind::File, 0), 1),
            folder.buildOrderValue());
}

TEST(OrderValueTest, LargePositionsCostNoMemory) {
  // Document-wide numbers can be anything a document says.
  MenuOrderFolder folder(u"");
  folder.addEntry(u"last.url", u"", ItemKind::File, 2147483647);
  folder.addEntry(u"first.url", u"", ItemKind::File, 1000000000);
  EXPECT_EQ(expectedValue(expectedRecord("first.url", ItemKind::File, 0) +
                              expectedRecord("last.url", ItemKind::File, 1),
                          2),
            folder.buildOrderValue());
}

TEST(OrderValueTest, NoEntriesGiveNoValue) {
  MenuOrderFolder folder(u"\\News");
  EXPECT_EQ("", folder.buildOrderValue());
}

TEST(OrderValueTest, ShortNameFollowsTheLongNamesTerminator) {
  MenuOrderEntry entry{u"Long name.url", u"LONGNA~1.URL", ItemKind::File, 4};
  const std::string bytes = encodeOrderRecord(entry);
  const size_t L = 13, S = 12;
  ASSERT_EQ(2 * L + 2 * S + 31, bytes.size());
  EXPECT_EQ(le32(static_cast<uint32_t>(bytes.size())), bytes.substr(0, 4));
  EXPECT_EQ(le16(static_cast<uint16_t>(2 * L + 2 * S + 16)), bytes.substr(8, 2));
  EXPECT_EQ(utf16z("Long name.url"), bytes.substr(22, 2 * L + 2));
  EXPECT_EQ(utf16z("LONGNA~1.URL"), bytes.substr(22 + 2 * L + 2, 2 * S + 2));
  EXPECT_EQ('\x05', bytes[2 * L + 2 * S + 27]);
  // Folders never carry a short name.
  MenuOrderEntry folder{u"Tools", u"TOOLS~1", ItemKind::Folder, 0};
  EXPECT_EQ(expectedRecord("Tools", ItemKind::Folder, 0), encodeOrderRecord(folder));
}

TEST(OrderValueTest, BrowserRecordsAreReadAtOffset44) {
  const std::vector<StoredPosition> stored =
      decodeOrderValue(readFile(testdata("orders/browser.bin")));
  ASSERT_EQ(4u, stored.size());
  EXPECT_EQ(u"News.url", stored[0].name);
  EXPECT_EQ(ItemKind::File, stored[0].kind);
  EXPECT_EQ(3, stored[0].position);
  EXPECT_EQ(u"Tools", stored[1].name);  // an ANSI name (kind 0x31)
  EXPECT_EQ(ItemKind::Folder, stored[1].kind);
  EXPECT_EQ(0, stored[1].position);
  EXPECT_EQ(u"Caf\u00e9.url", stored[2].name);
  EXPECT_EQ(-5, stored[2].position);
  EXPECT_EQ(u"Daily", stored[3].name);
  EXPECT_EQ(ItemKind::Folder, stored[3].kind);
}

TEST(OrderValueTest, ValuesThisProgramStoresReadBack) {
  // Long names put offset 44 inside the name; the own layout is read at 22.
  std::vector<MenuOrderEntry> entries = {
      {u"A folder with a long name", u"", ItemKind::Folder, 0},
      {u"x.url", u"", ItemKind::File, 1},
      {u"Bookmark with a long name.url", u"BOOKMA~1.URL", ItemKind::File, 2},
  };
  const std::vector<StoredPosition> stored = decodeOrderValue(encodeOrderValue(entries));
  ASSERT_EQ(entries.size(), stored.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(entries[i].longName, stored[i].name);
    EXPECT_EQ(entries[i].kind, stored[i].kind);
    EXPECT_EQ(entries[i].position, stored[i].position);
  }
}

TEST(OrderValueTest, ReadingNeverPassesTheEndOfTheValue) {
  // The header announces 5 records, the second claims a huge size.
  std::vector<StoredPosition> stored =
      decodeOrderValue(readFile(testdata("orders/lying_sizes.bin")));
  ASSERT_EQ(1u, stored.size());
  EXPECT_EQ(u"News.url", stored[0].name);
  // A name without its terminator ends with the value.
  stored = decodeOrderValue(readFile(testdata("orders/unterminated.bin")));
  ASSERT_EQ(1u, stored.size());
  EXPECT_EQ(u"Endless", stored[0].name);
  EXPECT_TRUE(decodeOrderValue(readFile(testdata("orders/empty.bin"))).empty());
  // Every cut of a valid value reads without passing its end.
  const std::string whole = readFile(testdata("orders/browser.bin"));
  for (size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE(n);
    const std::string cut = whole.substr(0, n);
    EXPECT_LE(decodeOrderValue(cut).size(), 4u);
  }
}

TEST(OrderValueTest, SavedInputsReplay) {
  for (const auto& entry : fs::directory_iterator(testdata("orders"))) {
    SCOPED_TRACE(entry.path().string());
    std::vector<MenuOrderEntry> entries;
    for (const StoredPosition& stored : decodeOrderValue(readFile(entry.path()))) {
      if (!stored.name.empty()) entries.push_back({stored.name, u"", stored.kind, stored.position});
    }
    const std::vector<StoredPosition> again = decodeOrderValue(encodeOrderValue(entries));
    ASSERT_EQ(entries.size(), again.size());
    for (size_t i = 0; i < again.size(); ++i) {
      EXPECT_EQ(entries[i].longName, again[i].name);
      EXPECT_EQ(entries[i].position, again[i].position);
    }
  }
}

TEST(OrderValueTest, ZeroRecordSizeEndsTheReading) {
  std::string value = expectedValue(le32(0) + zeros(40), 3);
  EXPECT_TRUE(decodeOrderValue(value).empty());
}

}  // namespace
