#include "exchange/duplicates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exchange/document.h"
#include "exchange/log_sink.h"
#include "exchange/testing/notation.h"

namespace exchange {
namespace {

using testing::describeList;
using testing::parseList;

std::vector<std::string> g_lines;
void captureLog(const char* module, const char* text) { g_lines.push_back(std::string(module) + ": " + text); }

class UniteDuplicates : public ::testing::Test {
 protected:
  void SetUp() override {
    g_lines.clear();
    previous_ = setLogSink(&captureLog);
  }
  void TearDown() override { setLogSink(previous_); }
  LogSink previous_ = nullptr;
};

TEST_F(UniteDuplicates, Table) {
  struct Case {
    const char* label;
    const char* list;
    const char* expected;
    int removed;
  } cases[] = {
      {"no duplicates: unchanged", "a f:[ x ] g:! | a:[ ]", "a f:[ x ] g:! | a:[ ]", 0},
      {"later bookmarks go", "x=1 y x=2 x=3", "x=1 y", 2},
      {"folder contents united, the first's bookmark wins", "f#0:[ a b=1 ] f#5~d:[ b=2 c ]", "f#0:[ a b=1 c ]", 2},
      {"union through all levels", "f:[ g:[ x ] ] f:[ g:[ y x=2 ] h:[ ] ]", "f:[ g:[ x y ] h:[ ] ]", 3},
      {"first folder without children takes the later's", "f~d:! f:[ x ]", "f~d:[ x ]", 1},
      {"later folder without children just goes", "f:[ x ] f~d:!", "f:[ x ]", 1},
      {"three folders into the first", "f:[ a ] f:[ b ] f:! f:[ c a=2 ]", "f:[ a b c ]", 4},
      {"separators of a later folder go with it", "f:[ x | ] f:[ | y ?other ]", "f:[ x | y ]", 1},
      {"duplicates inside a folder", "f:[ x x=2 ]", "f:[ x ]", 1},
      {"folder and bookmark of one name are different items", "a a:[ x ]", "a a:[ x ]", 0},
      {"names differing in case are different items", "a A", "a A", 0},
      {"items without a name are one key, the empty name another", "* *=2 =e =f", "* =e", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode list = parseList(c.list);
    ASSERT_TRUE(list) << "bad notation";
    EXPECT_EQ(uniteDuplicates(list.get(), "Explorer"), c.removed);
    EXPECT_EQ(describeList(list.get()), c.expected);
  }
}

TEST_F(UniteDuplicates, LogsEveryBookmarkLeftOutWithItsFolderPath) {
  UniqueXmlNode list = parseList("x=1 x=2 f:[ g:[ y=a ] ] f:[ g:[ y=b ] ] *=c *=d");
  ASSERT_TRUE(list);
  EXPECT_EQ(uniteDuplicates(list.get(), "Explorer"), 5);
  EXPECT_EQ(g_lines, (std::vector<std::string>{
                         "Explorer: Bookmark \"x\" appears more than once in \"\\\"; the first is kept, the one "
                         "linking to \"2\" is left out.\n",
                         "Explorer: Folder \"f\" appears more than once in \"\\\"; their contents are united in "
                         "the first.\n",
                         "Explorer: Bookmark \"(no name)\" appears more than once in \"\\\"; the first is kept, the "
                         "one linking to \"d\" is left out.\n",
                         "Explorer: Folder \"g\" appears more than once in \"\\f\"; their contents are united in "
                         "the first.\n",
                         "Explorer: Bookmark \"y\" appears more than once in \"\\f\\g\"; the first is kept, the one "
                         "linking to \"b\" is left out.\n",
                     }));
}

TEST_F(UniteDuplicates, OnlyContainersAreUnited) {
  UniqueXmlNode list = parseList("x x");
  xmlNodeSetName(list.get(), toXml("folder"));
  EXPECT_EQ(uniteDuplicates(list.get(), "Explorer"), 0);
  EXPECT_EQ(describeList(list.get()), "x x");
  EXPECT_EQ(uniteDuplicates(nullptr, "Explorer"), 0);
  EXPECT_TRUE(g_lines.empty());
}

// A united list, serialised and parsed again, is what the writer and the
// service see: the moved items are whole elements of the document.
TEST_F(UniteDuplicates, UnitedDocumentSerialisesAndParses) {
  UniqueXmlDoc doc = parseDocumentText(
      "<bookmarks><folder><name>F</name><children><bookmark><name>a</name><link>1</link></bookmark></children>"
      "</folder><folder><name>F</name><children><bookmark><name>b</name><link>2</link></bookmark>"
      "<folder><name>G</name><children/></folder></children></folder></bookmarks>");
  ASSERT_TRUE(doc);
  EXPECT_EQ(uniteDuplicates(rootElement(doc.get()), "Explorer"), 1);
  UniqueXmlDoc back = parseDocumentText(documentToText(doc.get()));
  ASSERT_TRUE(back);
  EXPECT_EQ(describeList(rootElement(back.get())), "F:[ a=1 b=2 G:[ ] ]");
}

}  // namespace
}  // namespace exchange
