#include "exchange/numbering.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "exchange/document.h"
#include "exchange/testing/notation.h"

namespace exchange {
namespace {

using testing::describeList;
using testing::parseList;

// Sets the ANSI code page for one test and restores the previous setting.
class CodePageScope {
 public:
  explicit CodePageScope(const char* codePage) {
    if (const char* old = std::getenv("QUORVANE_CODEPAGE")) previous_ = old, hadPrevious_ = true;
    setenv("QUORVANE_CODEPAGE", codePage, 1);
  }
  ~CodePageScope() {
    if (hadPrevious_) {
      setenv("QUORVANE_CODEPAGE", previous_.c_str(), 1);
    } else {
      unsetenv("QUORVANE_CODEPAGE");
    }
  }

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

TEST(OrderValue, ReadsLikeAtoi) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {
      {"7", 7},
      {"07", 7},
      {"7abc", 7},
      {"abc", 0},
      {"", 0},
      {" +12", 12},
      {"-5", -5},
      {"- 5", 0},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseOrder(c.text), c.expected);
  }
  UniqueXmlNode root = parseList("a");
  EXPECT_EQ(orderValue(root->children), -1);
  EXPECT_EQ(orderValue(root->children, 42), 42);
}

struct OrderCase {
  const char* label;
  const char* input;
  const char* expected;
};

TEST(OrderContainer, Table) {
  const OrderCase cases[] = {
      {"numbers 5, none and 2", "x#5 y z#2", "x#2 y#0 z#1"},
      {"equal numbers go by name, ignoring case", "b a B C", "b#1 a#0 B#2 C#3"},
      {"same kind and name share the first number", "x#3 x#1", "x#0 x#0"},
      {"a folder and a bookmark of one name differ", "a:[ ] a", "a#0:[ ] a#1"},
      {"separators get no number", "b | a", "b#1 | a#0"},
      {"contents are ordered per folder", "f:[ y x ] a", "f#1:[ y#1 x#0 ] a#0"},
      {"numbers read like atoi", "p#7abc q#abc r#-3", "p#2 q#1 r#0"},
      {"items without a name sort as the empty name", "b * a", "b#2 *#0 a#1"},
  };
  for (const OrderCase& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode root = parseList(c.input);
    orderContainer(root.get());
    EXPECT_EQ(describeList(root.get()), c.expected);
  }
}

TEST(OrderContainer, ComparesNamesInTheAnsiCodePage) {
  struct Case {
    const char* codePage;
    const char* input;
    const char* expected;
  } cases[] = {
      // É and é are one letter in 1252, so the second letter decides.
      {"1252", "Éb éa", "Éb#1 éa#0"},
      // Both names become "?" in 1252: one converted name, one number.
      {"1252", "日 月", "日#0 月#0"},
      {"1251", "Яb яa", "Яb#1 яa#0"},
      {"932", "日 月", "日#1 月#0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.codePage) + ": " + c.input);
    CodePageScope scope(c.codePage);
    UniqueXmlNode root = parseList(c.input);
    orderContainer(root.get());
    EXPECT_EQ(describeList(root.get()), c.expected);
  }
}

struct RenumberCase {
  const char* label;
  const char* input;
  int32_t base;
  const char* expected;
  int32_t result;
};

TEST(RenumberOrders, Table) {
  const RenumberCase cases[] = {
      {"folder of two, then a bookmark", "f#0:[ p#0 q#1 ] b#1", 0, "f#0:[ p#1 q#2 ] b#3", 3},
      {"nested folders give a pre-order walk", "f#2:[ g#1:[ c#1 b#0 ] a#0 ] e#1 d#0", 0,
       "f#2:[ g#4:[ c#6 b#5 ] a#3 ] e#1 d#0", 6},
      {"folders taken in any document order", "b#2 g#1:[ y#0 ] f#0:[ x#0 ]", 0,
       "b#4 g#2:[ y#3 ] f#0:[ x#1 ]", 4},
      {"base is added to every number", "a#0 |#1 b#2 c", 5, "a#5 |#6 b#7 c", 7},
      {"an empty folder below a number still rewrites it", "f#0:[ ] b#07", 0, "f#0:[ ] b#7", 7},
      {"without folders nothing changes", "a#07 b#2", 0, "a#07 b#2", 7},
      {"absent numbers stay absent", "f#0:[ x ] y", 0, "f#0:[ x ] y", 0},
      {"a folder without children moves nothing", "f#0:! b#1", 0, "f#0:! b#1", 1},
      {"an unnumbered folder is not entered", "f:[ x#0 ] b#1", 0, "f:[ x#0 ] b#1", 1},
      {"an empty list", "", 0, "", -1},
  };
  for (const RenumberCase& c : cases) {
    SCOPED_TRACE(c.label);
    UniqueXmlNode root = parseList(c.input);
    EXPECT_EQ(renumberOrders(root.get(), c.base), c.result);
    EXPECT_EQ(describeList(root.get()), c.expected);
  }
}

TEST(RenumberOrders, AfterOrderContainerNumbersThePreOrderWalk) {
  UniqueXmlNode root = parseList("z f:[ g:[ c b ] a ] e:[ ] d");
  orderContainer(root.get());
  EXPECT_EQ(renumberOrders(root.get(), 0), 7);
  EXPECT_EQ(describeList(root.get()), "z#7 f#2:[ g#4:[ c#6 b#5 ] a#3 ] e#1:[ ] d#0");
}

}  // namespace
}  // namespace exchange
