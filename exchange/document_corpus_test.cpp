// Replays the fuzz corpus of exchange documents as an ordinary test.
#include <gtest/gtest.h>
#include <libxml/xmlerror.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "exchange/testing/exercise.h"

namespace exchange {
namespace {

void quiet(void*, const char*, ...) {}

TEST(DocumentCorpus, EveryInputPassesTheChecks) {
  // The corpus holds broken documents on purpose.
  xmlSetGenericErrorFunc(nullptr, &quiet);
  const std::filesystem::path corpus =
      std::filesystem::path(EXCHANGE_SOURCE_DIR) / "testdata" / "document_corpus";
  int inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    EXPECT_EQ(testing::exerciseDocumentText(bytes.str()), "");
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
  xmlSetGenericErrorFunc(nullptr, nullptr);
}

}  // namespace
}  // namespace exchange
