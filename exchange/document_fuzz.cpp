// libFuzzer target (BUILD_FUZZERS=ON, clang): exchange documents as outside
// bytes through parsing, merging and ordering.
//   document_fuzz exchange/testdata/document_corpus
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "exchange/testing/exercise.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string failure = exchange::testing::exerciseDocumentText(
      std::string(reinterpret_cast<const char*>(data), size));
  if (!failure.empty()) {
    std::fprintf(stderr, "%s\n", failure.c_str());
    std::abort();
  }
  return 0;
}
