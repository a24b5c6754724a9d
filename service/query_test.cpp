#include "service/query.h"

#include <gtest/gtest.h>

namespace service {
namespace {

TEST(Query, TargetsSplitAsTheEngineWritesThem) {
  struct Row {
    const char* target;
    const char* path;
    Params params;
  };
  const Row rows[] = {
      {"/data?user=a&pass=b&function=get",
       "/data",
       {{"user", "a"}, {"pass", "b"}, {"function", "get"}}},
      // The engine leaves "+" and "=" alone and escapes a space as %20.
      {"/data?pass=a+b%20c=d", "/data", {{"pass", "a+b c=d"}}},
      // Bad escapes stay literal; empty pieces are skipped; a bare key is empty.
      {"/data?pass=%zz%4&&x&%41=%4a", "/data", {{"pass", "%zz%4"}, {"x", ""}, {"A", "J"}}},
      {"/da%74a", "/data", {}},
      {"/data?", "/data", {}},
      {"", "", {}},
      {"/data?pass=%00", "/data", {{"pass", std::string(1, '\0')}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.target);
    Target t = parseTarget(row.target);
    EXPECT_EQ(t.path, row.path);
    EXPECT_EQ(t.params, row.params);
  }
}

TEST(Query, FormBodiesTurnPlusIntoSpaceAndTheFirstKeyWins) {
  Params p = parseParams("user=a+b&user=second&pass=%26x", true);
  EXPECT_EQ(firstParam(p, "user"), "a b");
  EXPECT_EQ(firstParam(p, "pass"), "&x");
  EXPECT_FALSE(firstParam(p, "pass2").has_value());
}

}  // namespace
}  // namespace service
