#include "exchange/item_count.h"

#include <gtest/gtest.h>

#include <string>

namespace exchange {
namespace {

TEST(ItemCount, CountsTheItemsOfEveryContainer) {
  struct Row {
    const char* label;
    std::string text;
    size_t items;
  };
  const Row rows[] = {
      {"empty list", "<?xml version=\"1.0\"?><bookmarks type=\"full\"/>", 0},
      {"every kind, parts not counted",
       "<bookmarks><bookmark><name>a</name><link>l</link></bookmark><separator/>"
       "<folder><name>f</name><children/></folder></bookmarks>",
       3},
      {"nested folders",
       "<bookmarks><folder><name>f</name><children><bookmark/><folder><children>"
       "<bookmark/><bookmark/></children></folder></children></folder></bookmarks>",
       5},
      {"only a folder's first children holds items",
       "<bookmarks><folder><children><bookmark/></children><children><bookmark/><bookmark/>"
       "</children></folder></bookmarks>",
       2},
      {"a bookmark's children holds none",
       "<bookmarks><bookmark><children><bookmark/></children></bookmark></bookmarks>", 1},
      {"a folder that is no item holds none",
       "<bookmarks><bookmark><folder><children><bookmark/></children></folder></bookmark></"
       "bookmarks>",
       1},
      {"unknown elements in a container are items", "<bookmarks><a/><b><c/></b></bookmarks>", 2},
      {"any root is the list's container", "<list><bookmark/><bookmark/></list>", 2},
      {"white space and comments are not", "<bookmarks>\n  <!-- c -->\n  <bookmark/>\n</bookmarks>",
       1},
      {"counted up to where the text breaks", "<bookmarks><bookmark/><bookmark/><bookmark", 2},
      {"not XML", "no list", 0},
      {"empty text", "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(countListItems(row.text, ControlBytes::Keep), row.items);
  }
}

TEST(ItemCount, ReadsTheTextAsItsParserWill) {
  // A downloaded list is parsed without its control bytes: a name broken by
  // a tab is whole then. The hand-over text ends at its first zero byte.
  const std::string broken = "<bookmarks><book\tmark/><book\tmark/><book\nmark/></bookmarks>";
  EXPECT_EQ(countListItems(broken, ControlBytes::Drop), 3u);
  EXPECT_EQ(countListItems(broken, ControlBytes::Keep), 0u);
  const std::string cut = std::string("<bookmarks><bookmark/>") + '\0' + "<bookmark/></bookmarks>";
  EXPECT_EQ(countListItems(cut, ControlBytes::Keep), 1u);
  EXPECT_EQ(countListItems(cut, ControlBytes::Drop), 2u);
}

TEST(ItemCount, StopsOnceTheLimitIsPassed) {
  auto list = [](size_t items) {
    std::string text = "<?xml version=\"1.0\"?><bookmarks><folder><name>f</name><children>";
    for (size_t i = 1; i < items; ++i) text += "<bookmark/>";
    return text + "</children></folder></bookmarks>";
  };
  EXPECT_EQ(countListItems(list(10), ControlBytes::Keep, 3), 4u);
  EXPECT_EQ(countListItems(list(10), ControlBytes::Keep, 10), 10u);
  EXPECT_FALSE(exceedsItemLimit(list(kMaxListItems), ControlBytes::Drop));
  EXPECT_TRUE(exceedsItemLimit(list(kMaxListItems + 1), ControlBytes::Drop));
}

}  // namespace
}  // namespace exchange
