#include "exchange/ordering.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "exchange/document.h"
#include "exchange/testing/notation.h"
#include "exchange/testing/xml_text.h"

namespace exchange {
namespace {

using testing::describeList;
using testing::parseList;

struct StepCase {
  const char* label;
  const char* input;
  const char* expected;
};

void runSteps(const StepCase* begin, const StepCase* end, void (*step)(xmlNode*)) {
  for (const StepCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->label);
    UniqueXmlNode root = parseList(c->input);
    ASSERT_TRUE(root);
    step(root.get());
    EXPECT_EQ(describeList(root.get()), c->expected);
  }
}

TEST(SortNamedContainers, Table) {
  const StepCase cases[] = {
      {"marked container numbered by name", "c#2 a#-5 b#0", "c#2 a#0 b#1"},
      {"folders and bookmarks mixed", "b#-5 a:[ ] C", "b#1 a#0:[ ] C#2"},
      {"only the marked level changes", "z#1 f#0:[ y#-5 x#3 ]", "z#1 f#0:[ y#1 x#0 ]"},
      {"a separator's mark counts and stays", "b#1 |#-5 a#0", "b#1 |#-5 a#0"},
      {"unmarked container unchanged", "b#3 a", "b#3 a"},
      {"empty list", "", ""},
  };
  runSteps(std::begin(cases), std::end(cases), &sortNamedContainers);
}

TEST(PlaceUnorderedItems, Table) {
  const StepCase cases[] = {
      {"folders first, then bookmarks, by name", "p#0 q#1 b z:[ ] a", "p#0 q#1 b#4 z#2:[ ] a#3"},
      {"negative numbers count as unplaced", "x#3 y#-2 w", "x#3 y#5 w#4"},
      {"contents of unplaced folders too", "f:[ b a#0 ]", "f#0:[ b#1 a#0 ]"},
      {"names ignore case", "B a", "B#1 a#0"},
      {"placed items unchanged", "a#4 b#1", "a#4 b#1"},
      {"empty list", "", ""},
  };
  runSteps(std::begin(cases), std::end(cases), &placeUnorderedItems);
}

TEST(ResolveDuplicateOrders, Table) {
  const StepCase cases[] = {
      {"two folders at menu position 0, after renumbering", "f#0:[ x#1 ] g#0:[ y#1 ]",
       "f#2:[ x#3 ] g#0:[ y#1 ]"},
      {"the last holder keeps the number", "a#1 b#1 c#1 d#0", "a#2 b#3 c#1 d#0"},
      {"a folder's own number comes before its contents", "f#1:[ x#1 ] y#1", "f#2:[ x#3 ] y#1"},
      {"a separator counts but keeps its number", "|#0 a#0", "|#0 a#1"},
      {"unnumbered items are left alone", "a b#0", "a b#0"},
      {"huge numbers need no huge table", "a#2000000000 b#2000000000", "a#2000000001 b#2000000000"},
      {"empty list", "", ""},
  };
  runSteps(std::begin(cases), std::end(cases), &resolveDuplicateOrders);
}

TEST(PrepareOrders, Table) {
  const StepCase cases[] = {
      {"menu order, a sorted folder and a new item", "f#1:[ y#-5 x#-5 ] a#0 n",
       "f#1:[ y#3 x#2 ] a#0 n#4"},
      {"colliding menu positions become unique", "f#0:[ x ] g#0:[ y ]", "f#2:[ x#3 ] g#0:[ y#1 ]"},
      {"nothing known: folders first, then by name", "b f:[ d c ] a", "b#4 f#0:[ d#2 c#1 ] a#3"},
      {"empty Favorites", "", ""},
  };
  runSteps(std::begin(cases), std::end(cases), &prepareOrders);
}

TEST(PrepareOrders, LeavesEveryItemANumberOnceNoMark) {
  UniqueXmlNode root = parseList("c#-5 f#0:[ q p#-5 r:[ s#9 t#9 ] ] a#0 b#0 | z");
  prepareOrders(root.get());
  std::string text = describeList(root.get());
  EXPECT_EQ(text.find("#-"), std::string::npos) << text;
  // Every bookmark and folder has a number and no two share one.
  std::set<std::string> seen;
  std::function<void(const xmlNode*)> walk = [&](const xmlNode* container) {
    for (const xmlNode* child = container->children; child; child = child->next) {
      if (!isElement(child, kBookmarkElement) && !isElement(child, kFolderElement)) continue;
      std::optional<std::string> order = attribute(child, kOrderAttribute);
      ASSERT_TRUE(order) << text;
      EXPECT_TRUE(seen.insert(*order).second) << "shared " << *order << " in " << text;
      if (const xmlNode* children = firstChildElement(child, kChildrenElement)) walk(children);
    }
  };
  walk(root.get());
  EXPECT_EQ(seen.size(), 10u);
}

TEST(UnionWithCache, AddsTheCachedItemsTheLocalListLacks) {
  struct Case {
    const char* label;
    const char* local;
    const char* cache;  // null: no cache file
    const char* expected;
  } cases[] = {
      {"cached bookmark added and numbered", "a#0 b#1", "a c", "a#1 b#2 c#0"},
      {"cached folder contents merged", "f#0:[ x#1 ]", "f:[ y ] g:[ ]", "f#1:[ x#3 y#2 ] g#0:[ ]"},
      {"no cache: only ordered", "b a", nullptr, "b#1 a#0"},
      {"local versions kept", "a#0=local", "a=cache", "a#0=local"},
      {"duplicates on either side united first", "f#0:[ x#1 ] f#2:[ y#3 ]", "f:[ y z ] c=1 c=2",
       "f#1:[ x#3 y#4 z#2 ] c#0=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode local = parseList(c.local);
    UniqueXmlNode cache = c.cache ? parseList(c.cache) : nullptr;
    const std::string localBefore = testing::nodeText(local.get());
    UniqueXmlNode result = unionWithCache(local.get(), cache.get());
    ASSERT_TRUE(result);
    EXPECT_EQ(describeList(result.get()), c.expected);
    EXPECT_EQ(testing::nodeText(local.get()), localBefore);
  }
}

TEST(UnionWithCache, MisnamedCacheGivesNone) {
  UniqueXmlNode local = parseList("a");
  UniqueXmlNode cache = parseList("b");
  xmlNodeSetName(cache.get(), toXml("bookmark"));
  EXPECT_FALSE(unionWithCache(local.get(), cache.get()));
}

}  // namespace
}  // namespace exchange
