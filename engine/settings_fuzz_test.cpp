// Replays the saved fuzzing corpus of the settings parsers as an ordinary
// test (under the sanitizers in their build).
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/engine_test_support.h"
#include "engine/settings_fuzz_target.h"

namespace corvex {
namespace {

TEST(SettingsFuzzCorpusTest, EveryInputParsesSafely) {
  const std::filesystem::path corpus =
      std::filesystem::path(CORVEX_SOURCE_DIR) / "fuzz_corpus/settings";
  size_t inputs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    std::string bytes = test::readFileText(entry.path());
    parseSettingsBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++inputs;
  }
  EXPECT_GT(inputs, 0u);
}

}  // namespace
}  // namespace corvex
