#include "exchange/merge.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "exchange/document.h"
#include "exchange/log_sink.h"
#include "exchange/testing/notation.h"
#include "exchange/testing/xml_text.h"

namespace exchange {
namespace {

using testing::describeList;
using testing::nodeText;
using testing::parseList;

constexpr char kNone[] = "<none>";

struct MergeCase {
  const char* label;
  const char* cache;  // null: no previous synchronisation
  const char* local;
  const char* server;
  const char* expected;  // kNone when the merge returns nothing
};

std::string describeResult(const xmlNode* result) { return result ? describeList(result) : kNone; }

// Runs one row: parses the three lists, merges them, and checks that the
// inputs came out untouched.
std::string runMerge(const MergeCase& c) {
  UniqueXmlNode local = parseList(c.local);
  UniqueXmlNode server = parseList(c.server);
  UniqueXmlNode cache = c.cache ? parseList(c.cache) : nullptr;
  EXPECT_TRUE(local && server && (cache || !c.cache)) << "bad notation";
  const std::string localBefore = nodeText(local.get());
  const std::string serverBefore = nodeText(server.get());
  const std::string cacheBefore = nodeText(cache.get());
  UniqueXmlNode result = mergeLists(local.get(), server.get(), cache.get(), "Explorer");
  EXPECT_EQ(nodeText(local.get()), localBefore);
  EXPECT_EQ(nodeText(server.get()), serverBefore);
  EXPECT_EQ(nodeText(cache.get()), cacheBefore);
  if (result) {
    EXPECT_EQ(result->parent, nullptr);
  }
  return describeResult(result.get());
}

// Orders in the expected lists are the final, renumbered ones: a pre-order
// walk of the result with each container taken in number order, then name.
const MergeCase kMergeCases[] = {
    // First synchronisation: nothing is deleted; shared items as on the server.
    {"first sync unites both lists", nullptr, "b=local c", "a b=server", "a#0 b#1=server c#2"},
    {"first sync keeps local folders and their contents", nullptr, "f:[ d ] e", "f:[ b a ] c",
     "f#2:[ b#4 a#3 d#5 ] c#0 e#1"},
    {"first sync with an empty server list", nullptr, "a f:[ b ]", "", "a#0 f#1:[ b#2 ]"},
    {"first sync keeps numbered positions", nullptr, "x#1", "y#0 z#2", "y#0 z#2 x#1"},

    // Local list unchanged: the server's changes go through.
    {"server deletes and adds", "a b", "a b", "a=new c", "a#0=new c#1"},
    {"server edit wins over an unchanged local list", "a=old", "a=old", "a=new", "a#0=new"},
    {"identical lists stay as they are", "f:[ x ] y", "f:[ x ] y", "f:[ x ] y", "f#0:[ x#1 ] y#2"},

    // Deletion on one side, edit on the other: the deletion wins.
    {"local deletion beats a server edit", "a b", "a c", "a b=edited", "a#0 c#1"},
    {"server deletion beats a local edit", "a b", "a b=edited", "a", "a#0"},
    {"server deletion inside a folder beats a local edit", "f:[ x y ]", "f:[ x=edited y ]",
     "f:[ y ]", "f#0:[ y#1 ]"},

    // A local change anywhere makes every local version win.
    {"local edit loses the server's edit of the same item", "a", "a~note", "a=new", "a#0~note"},
    {"unrelated local addition hides a server edit", "a b", "a b c", "a=new b", "a#0 b#1 c#2"},

    // Folders emptied by deletions disappear; new contents keep them.
    {"folder emptied locally is removed", "f:[ x ]", "f:[ ]", "f:[ x ]", ""},
    {"folder emptied on the server is removed", "f:[ x ]", "f:[ x ]", "f:[ ]", ""},
    {"folder deleted locally survives for a server addition", "f:[ x ]", "", "f:[ x y ]",
     "f#0:[ y#1 ]"},
    {"folder emptied locally survives for a server addition", "f:[ x ]", "f:[ ]", "f:[ x y ]",
     "f#0:[ y#1 ]"},
    {"folder deleted on the server keeps a local addition", "f:[ x ] a", "f:[ x z ] a", "a",
     "f#1:[ z#2 ] a#0"},
    {"new empty folder stays", "a", "a g:[ ]", "a", "a#0 g#1:[ ]"},
    {"nested folder emptied locally goes, its parent too", "f:[ g:[ x ] ]", "f:[ g:[ ] ]",
     "f:[ g:[ x ] ]", ""},

    // Keys: kind and exact name.
    {"folder and bookmark of one name are different items", "a", "a", "a a:[ x ]",
     "a#0 a#1:[ x#2 ]"},
    {"names differing in case are different items", nullptr, "Ab", "ab", "ab#0 Ab#1"},
    {"items without a name match each other only", nullptr, "* x=l", "*=s", "*#0=s x#1=l"},

    // Duplicates of one name: both stay, a deletion removes the first.
    {"duplicate names in the base both stay", "x", "x=1 x=2", "x", "x#0=1 x#0=2"},
    {"a deletion removes only the first duplicate", "x", "x=1 x=2", "", "x#0=2"},

    // A folder without `children` has no contents, whatever else it holds:
    // it fails nothing, gives nothing, and takes the other side's contents.
    {"new folder holding only a description from the server", "a b", "a", "a b g~d:!", "a#0 g#1~d:!"},
    {"new folder holding only a description from the local side", "a b", "a b g~d:!", "a", "a#0 g#1~d:!"},
    {"folder holding only a description in the cache keeps the deletions", "a b g~d:!", "a g~d:!",
     "a b g~d:! s", "a#0 g#1~d:! s#2"},
    {"folder holding only a description receives the other side's contents", nullptr, "g:[ x ]", "g~d:!",
     "g#0~d:[ x#1 ]"},

    // Separators: kept where they stand in the base, never added from the other.
    {"separator of the base survives", nullptr, "| c", "a | b", "a#0 | b#1 c#2"},
    {"separator of the other list is not added", "a", "a |", "a b", "a#0 | b#1"},
};

TEST(MergeLists, Table) {
  for (const MergeCase& c : kMergeCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(runMerge(c), c.expected) << "cache: " << (c.cache ? c.cache : "(none)")
                                       << "\nlocal: " << c.local << "\nserver: " << c.server;
  }
}

// A list whose root or folder contents carry a wrong element name: a root
// that is no container fails the merge (a cache only tells no deletions); a
// folder whose contents are misnamed is a folder without contents.
struct MisnamedCase {
  const char* label;
  const char* cache;
  const char* local;
  const char* server;
  const char* side;  // "cache", "local" or "server": the list that is renamed
  const char* from;
  const char* to;
  const char* expected;
};

const MisnamedCase kMisnamedCases[] = {
    {"local root, first sync", nullptr, "a", "b", "local", "bookmarks", "bookmark", kNone},
    {"server root, first sync", nullptr, "a", "b", "server", "bookmarks", "list", kNone},
    {"local root with cache", "a", "a", "a b", "local", "bookmarks", "folder", kNone},
    {"server root with cache", "a", "a c", "a", "server", "bookmarks", "children2", kNone},
    {"local folder contents", nullptr, "f:[ x ]", "f:[ y ]", "local", "children", "kids", "f#0:[ y#1 ]"},
    {"server folder contents", nullptr, "f:[ x ]", "f:[ y ]", "server", "children", "kids", "f#0:[ x#1 ]"},
    {"cache folder contents", "a f:[ x ] b", "a f:[ x ]", "f:[ x ] b", "cache", "children", "kids", "f#0:[ x#1 ]"},
    // A cache that fails the check tells no deletions; nothing is lost.
    {"cache root", "a b", "a", "a b", "cache", "bookmarks", "bookmark", "a#0 b#1"},
    // A container named "children" is accepted in place of the root.
    {"root named children", nullptr, "a", "b", "local", "bookmarks", "children", "b#1 a#0"},
};

TEST(MergeLists, MisnamedElements) {
  for (const MisnamedCase& c : kMisnamedCases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode local = parseList(c.local);
    UniqueXmlNode server = parseList(c.server);
    UniqueXmlNode cache = c.cache ? parseList(c.cache) : nullptr;
    std::string side = c.side;
    xmlNode* renamed = side == "cache" ? cache.get() : side == "local" ? local.get() : server.get();
    ASSERT_TRUE(testing::renameFirstElement(renamed, c.from, c.to));
    UniqueXmlNode result = mergeLists(local.get(), server.get(), cache.get(), "Explorer");
    EXPECT_EQ(describeResult(result.get()), c.expected);
  }
}

// A folder that is only a name (no `children`) must not swallow the other
// side's contents.
TEST(MergeLists, BareFolderReceivesTheOtherSidesContents) {
  UniqueXmlNode server = parseList("f:!");
  UniqueXmlNode local = parseList("f:[ x ]");
  UniqueXmlNode result = mergeLists(local.get(), server.get(), nullptr, "Explorer");
  EXPECT_EQ(describeResult(result.get()), "f#0:[ x#1 ]");
}

TEST(MergeLists, RootAttributesComeFromTheBase) {
  struct Case {
    const char* label;
    const char* cache;
    const char* local;
    const char* expectedTimestamp;
  } cases[] = {
      {"no cache: server", nullptr, "a", "server-time"},
      {"local unchanged: server", "a", "a", "server-time"},
      {"local changed: local", "a", "a b", "local-time"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode local = parseList(c.local);
    UniqueXmlNode server = parseList("a");
    UniqueXmlNode cache = c.cache ? parseList(c.cache) : nullptr;
    setAttribute(local.get(), kTimestampAttribute, "local-time");
    setAttribute(local.get(), kTypeAttribute, "full");
    setAttribute(server.get(), kTimestampAttribute, "server-time");
    setAttribute(server.get(), kTypeAttribute, "full");
    if (cache) setAttribute(cache.get(), kTimestampAttribute, "cache-time");
    UniqueXmlNode result = mergeLists(local.get(), server.get(), cache.get(), "Explorer");
    ASSERT_TRUE(result);
    EXPECT_EQ(attribute(result.get(), kTimestampAttribute), c.expectedTimestamp);
    EXPECT_EQ(attribute(result.get(), kTypeAttribute), "full");
  }
}

std::vector<std::string> g_logLines;
void captureLog(const char* module, const char* text) {
  g_logLines.push_back(std::string(module) + ": " + text);
}

TEST(MergeLists, LogsStartAndEndEvenWhenItFails) {
  LogSink previous = setLogSink(&captureLog);
  const std::vector<std::string> expected = {
      "Explorer: Merging server and local bookmarks has been started.\n",
      "Explorer: Merging server and local bookmarks has been finished.\n"};
  UniqueXmlNode local = parseList("a");
  UniqueXmlNode server = parseList("b");

  g_logLines.clear();
  EXPECT_TRUE(mergeLists(local.get(), server.get(), nullptr, "Explorer"));
  EXPECT_EQ(g_logLines, expected);

  g_logLines.clear();
  xmlNodeSetName(server.get(), toXml("bookmark"));
  EXPECT_FALSE(mergeLists(local.get(), server.get(), local.get(), "Explorer"));
  EXPECT_EQ(g_logLines, expected);
  setLogSink(previous);
}

// The result goes into a document and through text, as the engine returns it.
TEST(MergeLists, ResultSerialisesAsADocument) {
  UniqueXmlDoc serverDoc = parseDocumentText(
      "<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">"
      "<bookmark><name>Tom &amp; Jerry</name><link>http://a/?x=1&amp;y=2</link></bookmark>"
      "</bookmarks>");
  ASSERT_TRUE(serverDoc);
  UniqueXmlNode local = parseList("b");
  UniqueXmlNode result = mergeLists(local.get(), rootElement(serverDoc.get()), nullptr, "Explorer");
  ASSERT_TRUE(result);
  UniqueXmlDoc doc = documentWithRoot(std::move(result));
  std::string text = documentToText(doc.get());
  EXPECT_NE(text.find("<name>Tom &amp; Jerry</name>"), std::string::npos) << text;
  UniqueXmlDoc back = parseDocumentText(text);
  ASSERT_TRUE(back);
  xmlNode* first = firstChildElement(rootElement(back.get()), kBookmarkElement);
  EXPECT_EQ(childText(first, kNameElement), "Tom & Jerry");
  EXPECT_EQ(childText(first, kLinkElement), "http://a/?x=1&y=2");
  EXPECT_EQ(attribute(first, kOrderAttribute), "1");
}

}  // namespace
}  // namespace exchange
