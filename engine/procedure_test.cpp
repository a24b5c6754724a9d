#include "engine/procedure.h"

#include <gtest/gtest.h>

#include "engine/client_app.h"
#include "engine/engine_test_support.h"

namespace corvex {
namespace {

TEST(FirstSyncMethodFile, FirstNonZeroKeyDecides) {
  struct Row {
    const char* text;
    FirstSyncMethod method;
  };
  const Row rows[] = {
      {"", FirstSyncMethod::Merge},
      {"firstSyncMethod1=1\nfirstSyncMethod3=1\n", FirstSyncMethod::Merge},
      {"firstSyncMethod1=0\nfirstSyncMethod2=1\n", FirstSyncMethod::TakeServer},
      {"firstSyncMethod1=0\r\nfirstSyncMethod2=0\r\nfirstSyncMethod3=1\r\n", FirstSyncMethod::TakeLocal},
      {"firstSyncMethod3   =  7  \n", FirstSyncMethod::TakeLocal},
      {"firstSyncMethod2\t=1\n", FirstSyncMethod::Merge},  // only spaces may precede "="
      {"firstSyncMethod2:1\nfirstSyncMethod3=1", FirstSyncMethod::TakeLocal},
      {"firstSyncMethod2=x\nfirstSyncMethod3=-1", FirstSyncMethod::TakeLocal},
      // The key's first occurrence counts, wherever it is.
      {"# firstSyncMethod2 is off\nfirstSyncMethod2=1\n", FirstSyncMethod::Merge},
      {"[methods]\nfirstSyncMethod2 = 1", FirstSyncMethod::TakeServer},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(parseFirstSyncMethod(row.text), row.method);
  }
}

class ProcedureTest : public corvex::test::EngineTest {};

TEST_F(ProcedureTest, MethodFileSitsBesideTheEngineAndCacheInTheDataFolder) {
  ClientApp app("Explorer");
  EXPECT_EQ(methodFilePath().filename(), "syncMethod.ini");
  EXPECT_EQ(cacheFilePath(app), dataFolder() / "bookmarkscache_Explorer.xml");
  EXPECT_TRUE(std::filesystem::is_directory(dataFolder()));
}

}  // namespace
}  // namespace corvex
