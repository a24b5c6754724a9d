#include "exchange/list_ops.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "exchange/document.h"
#include "exchange/testing/notation.h"
#include "exchange/testing/xml_text.h"

namespace exchange {
namespace {

using testing::describeList;
using testing::parseList;

UniqueXmlNode list(const char* notation) {
  UniqueXmlNode node = parseList(notation);
  EXPECT_TRUE(node) << "bad notation: " << notation;
  return node;
}

// An item element parsed from XML text, belonging to its own document.
struct Fragment {
  UniqueXmlDoc doc;
  xmlNode* node() const { return rootElement(doc.get()); }
};
Fragment fragment(const std::string& xml) {
  Fragment f{parseDocumentText(xml)};
  EXPECT_TRUE(f.doc) << xml;
  return f;
}

TEST(FindItem, FirstMatchOfKindAndExactName) {
  UniqueXmlNode root = list("a=1 b:[ x ] b=2 a=3 * *=4 A | c:!");
  struct Case {
    const char* kind;
    std::optional<std::string> name;
    const char* expected;  // the matched item's link or folder name, "" for none
  } cases[] = {
      {kBookmarkElement, "a", "1"},
      {kBookmarkElement, "b", "2"},
      {kFolderElement, "b", "b"},
      {kBookmarkElement, "A", "A"},
      {kBookmarkElement, std::nullopt, "*"},
      {kBookmarkElement, "", ""},
      {kFolderElement, "a", ""},
      {kFolderElement, "c", "c"},
      {kSeparatorElement, std::nullopt, "|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + " " + c.name.value_or("(no name)"));
    xmlNode* found = findItem(root.get(), c.kind, c.name);
    std::string seen;
    if (found) {
      seen =
          childText(found, kLinkElement)
              .value_or(isElement(found, kSeparatorElement) ? "|" : itemName(found).value_or("*"));
    }
    EXPECT_EQ(seen, c.expected);
  }
  EXPECT_EQ(findItem(nullptr, kBookmarkElement, "a"), nullptr);
}

struct TwoListCase {
  const char* label;
  const char* target;
  const char* other;
  bool ok;
  const char* expected;
};

TEST(AddMissingItems, Table) {
  const TwoListCase cases[] = {
      {"missing bookmark appended", "a", "b a=2", true, "a b"},
      {"target version kept entirely", "a#3=t~d", "a#1=s", true, "a#3=t~d"},
      {"missing folder copied whole", "a", "f:[ x g:[ y ] ]", true, "a f:[ x g:[ y ] ]"},
      {"folders merged level by level", "f:[ x ]", "f:[ y x=2 ] z", true, "f:[ x y ] z"},
      {"target folder without children is given the source's", "f:!", "f:[ x ]", true, "f:[ x ]"},
      {"source folder without children adds nothing", "f:[ x ]", "f:! g:!", true, "f:[ x ] g:!"},
      {"target folder holding only a description is given the source's contents", "f~d:!", "f:[ x ]", true,
       "f~d:[ x ]"},
      {"source folder holding only a description adds nothing but itself", "f:[ x ]", "f~d:! g~e:!", true,
       "f:[ x ] g~e:!"},
      {"duplicates in the source: the first is added, the second then matches", "",
       "x=1 x=2 f:[ a ] f:[ b ]", true, "x=1 f:[ a b ]"},
      {"separators and unknown elements are skipped", "a", "| b", true, "a b"},
      {"kinds do not match each other", "a", "a:[ ]", true, "a a:[ ]"},
  };
  for (const TwoListCase& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode target = list(c.target);
    UniqueXmlNode source = list(c.other);
    const std::string sourceBefore = testing::nodeText(source.get());
    EXPECT_EQ(addMissingItems(target.get(), source.get()), c.ok);
    EXPECT_EQ(describeList(target.get()), c.expected);
    EXPECT_EQ(testing::nodeText(source.get()), sourceBefore);
  }
}

TEST(RemoveListedItems, Table) {
  const TwoListCase cases[] = {
      {"listed bookmark removed", "a b c", "b", true, "a c"},
      {"only the first of duplicates goes", "x=1 x=2 x=3", "x x", true, "x=3"},
      {"fields do not matter", "a=1", "a=2", true, ""},
      {"folder emptied by the removal goes", "f:[ x ] a", "f:[ x ]", true, "a"},
      {"folder keeping an item stays", "f:[ x y ]", "f:[ x ]", true, "f:[ y ]"},
      {"folder that was empty goes when listed", "f:[ ]", "f:[ ]", true, ""},
      {"folder with only a separator left stays", "f:[ x | ]", "f:[ x ]", true, "f:[ | ]"},
      {"folder without children on either side stays", "f:! g:[ x ]", "f:[ ] g:!", true,
       "f:! g:[ x ]"},
      {"folder holding only a description on either side stays", "f~d:! g:[ x ] a", "f:[ ] g~d:! a", true,
       "f~d:! g:[ x ]"},
      {"unlisted items stay", "a f:[ b ]", "c g:[ b ]", true, "a f:[ b ]"},
      {"removal within a nested folder", "f:[ g:[ x ] y ]", "f:[ g:[ x ] ]", true, "f:[ y ]"},
  };
  for (const TwoListCase& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode target = list(c.target);
    UniqueXmlNode listed = list(c.other);
    EXPECT_EQ(removeListedItems(target.get(), listed.get()), c.ok);
    EXPECT_EQ(describeList(target.get()), c.expected);
  }
}

// Only the two containers handed in are checked. A folder whose contents
// sit under another element name (or that holds only other elements, such as
// a description) is a folder without contents: it makes no walk fail, gives
// nothing and takes no removal.
TEST(ContainerCheck, OnlyTheTwoArgumentsAreChecked) {
  struct Case {
    const char* label;
    const char* renameIn;  // "target" or "other"
    bool inner;            // rename the contents of the folder inside f
    const char* from;
    const char* to;
    bool ok;
    const char* afterAdd;
    const char* afterRemove;
  } cases[] = {
      {"target root", "target", false, "bookmarks", "folder", false, "f:[ g:[ x ] ]", "f:[ g:[ x ] ]"},
      {"other root", "other", false, "bookmarks", "bookmark", false, "f:[ g:[ x ] ]", "f:[ g:[ x ] ]"},
      {"contents of the target's folder", "target", false, "children", "kids", true, "f:[ g:[ x ] ]", "f:!"},
      {"contents of the other's folder", "other", false, "children", "kids", true, "f:[ g:[ x ] ]",
       "f:[ g:[ x ] ]"},
      {"contents of the other's inner folder", "other", true, "children", "items", true, "f:[ g:[ x ] ]",
       "f:[ g:[ x ] ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    for (bool adding : {true, false}) {
      SCOPED_TRACE(adding ? "addMissingItems" : "removeListedItems");
      UniqueXmlNode target = list("f:[ g:[ x ] ]");
      UniqueXmlNode other = list("f:[ g:[ x ] ]");
      xmlNode* renamed = std::string(c.renameIn) == "target" ? target.get() : other.get();
      if (c.inner) {
        xmlNode* outer = firstChildElement(firstChildElement(renamed, kFolderElement), kChildrenElement);
        renamed = firstChildElement(firstChildElement(outer, kFolderElement), kChildrenElement);
      }
      ASSERT_TRUE(testing::renameFirstElement(renamed, c.from, c.to));
      bool ok = adding ? addMissingItems(target.get(), other.get()) : removeListedItems(target.get(), other.get());
      EXPECT_EQ(ok, c.ok);
      EXPECT_EQ(describeList(target.get()), adding ? c.afterAdd : c.afterRemove);
    }
  }
  UniqueXmlNode a = list("a");
  EXPECT_FALSE(addMissingItems(a.get(), nullptr));
  EXPECT_FALSE(removeListedItems(nullptr, a.get()));
}

TEST(CountItems, CountsBookmarksAndFoldersThroughAllLevels) {
  struct Case {
    const char* notation;
    int expected;
  } cases[] = {
      {"", 0}, {"a b", 2}, {"a | b ?x", 2}, {"f:[ a g:[ b c ] ] d", 6}, {"f:! g:[ ]", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.notation);
    UniqueXmlNode root = list(c.notation);
    EXPECT_EQ(countItems(root.get()), c.expected);
  }
  EXPECT_EQ(countItems(nullptr), 0);
}

TEST(OrdersEqual, ComparesAttributeText) {
  struct Case {
    const char* a;
    const char* b;
    bool expected;
  } cases[] = {
      {"x#7", "x#7", true}, {"x#07", "x#7", false}, {"x", "x", true},         {"x#", "x", true},
      {"x", "x#", true},    {"x#0", "x", false},    {"x#abc", "x#abc", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    UniqueXmlNode a = list(c.a);
    UniqueXmlNode b = list(c.b);
    EXPECT_EQ(ordersEqual(a->children, b->children), c.expected);
  }
}

TEST(BookmarksEqual, ComparesEveryFieldButTheName) {
  const std::string full =
      "<bookmark order='1'><name>n</name><link>l</link><iconfile>data:AB\r\nCD</iconfile>"
      "<description>d</description><icon_index>2</icon_index><hotkey>3</hotkey></bookmark>";
  struct Case {
    const char* label;
    std::string other;
    bool expected;
  } cases[] = {
      {"same", full, true},
      {"other name",
       "<bookmark order='1'><name>m</name><link>l</link><iconfile>data:ABCD"
       "</iconfile><description>d</description><icon_index>2</icon_index>"
       "<hotkey>3</hotkey></bookmark>",
       true},
      {"icon line breaks differ",
       "<bookmark order='1'><link>l</link><iconfile>\ndata:A\nBCD"
       "</iconfile><description>d</description><icon_index>2"
       "</icon_index><hotkey>3</hotkey></bookmark>",
       true},
      {"icon case differs",
       "<bookmark order='1'><link>l</link><iconfile>data:abcd</iconfile>"
       "<description>d</description><icon_index>2</icon_index><hotkey>3"
       "</hotkey></bookmark>",
       false},
      {"order differs",
       "<bookmark order='2'><link>l</link><iconfile>data:ABCD</iconfile>"
       "<description>d</description><icon_index>2</icon_index><hotkey>3"
       "</hotkey></bookmark>",
       false},
      {"link differs",
       "<bookmark order='1'><link>L</link><iconfile>data:ABCD</iconfile>"
       "<description>d</description><icon_index>2</icon_index><hotkey>3"
       "</hotkey></bookmark>",
       false},
      {"description missing",
       "<bookmark order='1'><link>l</link><iconfile>data:ABCD"
       "</iconfile><icon_index>2</icon_index><hotkey>3</hotkey>"
       "</bookmark>",
       false},
      {"hotkey differs",
       "<bookmark order='1'><link>l</link><iconfile>data:ABCD</iconfile>"
       "<description>d</description><icon_index>2</icon_index><hotkey>4"
       "</hotkey></bookmark>",
       false},
  };
  Fragment a = fragment(full);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Fragment b = fragment(c.other);
    EXPECT_EQ(bookmarksEqual(a.node(), b.node()), c.expected);
    EXPECT_EQ(bookmarksEqual(b.node(), a.node()), c.expected);
  }
  Fragment bare = fragment("<bookmark/>");
  Fragment empty = fragment("<bookmark><link/><description></description><hotkey/></bookmark>");
  EXPECT_TRUE(bookmarksEqual(bare.node(), empty.node()));
}

TEST(ListsEqual, Table) {
  struct Case {
    const char* label;
    const char* a;
    const char* b;
    bool expected;
  } cases[] = {
      {"same items in another order", "a b f:[ x ]", "f:[ x ] b a", true},
      {"bookmark order differs", "a#1", "a#2", false},
      {"folder's own order is not compared", "f#1:[ x ]", "f#5:[ x ]", true},
      {"folder contents differ", "f:[ x ]", "f:[ y ]", false},
      {"extra item", "a", "a b", false},
      {"separator counts", "a |", "a", false},
      {"an item of the first list must be in the second", "a b", "a |", false},
      {"elements of other kinds in the first list are only counted", "a |", "a b", true},
      {"empty children equal no children", "f:[ ]", "f:!", true},
      {"children with items differ from none", "f:[ x ]", "f:!", false},
      {"kind matters", "a", "a:[ ]", false},
      {"duplicates pair with the first", "x=1 x=2", "x=1 y", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode a = list(c.a);
    UniqueXmlNode b = list(c.b);
    EXPECT_EQ(listsEqual(a.get(), b.get()), c.expected);
    EXPECT_EQ(sameLists(b.get(), a.get()), c.expected);
  }
}

TEST(ListsEqual, IgnoresRootTimestampAndTypeButNotRootOrder) {
  UniqueXmlNode a = list("a f:[ b ]");
  UniqueXmlNode b = list("a f:[ b ]");
  setAttribute(a.get(), kTimestampAttribute, "2005-03-07-09-05-00");
  setAttribute(a.get(), kTypeAttribute, "full");
  setAttribute(b.get(), kTypeAttribute, "skip");
  EXPECT_TRUE(listsEqual(a.get(), b.get()));
  setAttribute(b.get(), kOrderAttribute, "1");
  EXPECT_FALSE(listsEqual(a.get(), b.get()));
  EXPECT_FALSE(sameLists(a.get(), nullptr));
  EXPECT_FALSE(sameLists(nullptr, nullptr));
}

}  // namespace
}  // namespace exchange
