// Helpers for the engine's unit tests: a fresh prefix per test whose
// ClientApps are destroyed (writing their settings files) before the prefix
// goes, and direct access to the files and registry values they use.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/client_app.h"
#include "platform/registry.h"
#include "tests/support/temp_prefix.h"

namespace corvex::test {

inline std::string readFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFileText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The text with every log time stamp ("12/31/99 23:59:59: ") replaced by
// "<stamp> ", so that whole log texts can be compared.
inline std::string maskTimestamps(const std::string& text) {
  static const std::string shape = "00/00/00 00:00:00: ";
  std::string out;
  size_t pos = 0;
  while (pos < text.size()) {
    bool stamp = pos + shape.size() <= text.size();
    for (size_t i = 0; stamp && i < shape.size(); ++i) {
      char c = text[pos + i];
      stamp = shape[i] == '0' ? (c >= '0' && c <= '9') : c == shape[i];
    }
    if (stamp) {
      out += "<stamp> ";
      pos += shape.size();
    } else {
      out += text[pos++];
    }
  }
  return out;
}

class EngineTest : public ::testing::Test {
 protected:
  void TearDown() override { destroyClientApps(); }

  std::filesystem::path dataFolder() const {
    return prefix_.path() / "profile/AppData/Roaming/BookmarkPlugin";
  }
  std::filesystem::path settingsFile(const std::string& name = "Explorer") const {
    return dataFolder() / ("bookmarks_" + name + ".cfg");
  }
  std::string logText() const { return readFileText(dataFolder() / "bookmarks.log"); }

  static std::string keyPath(const std::string& name = "Explorer") {
    return std::string(kRegistryKeyBase) + name;
  }
  static platform::RegKey createKey(const std::string& name = "Explorer") {
    platform::RegKey key;
    EXPECT_EQ(platform::RegKey::create(platform::RegRoot::CurrentUser, keyPath(name), &key),
              platform::kOk);
    return key;
  }
  static bool keyExists(const std::string& name = "Explorer") {
    platform::RegKey key;
    return platform::RegKey::open(platform::RegRoot::CurrentUser, keyPath(name), &key) ==
           platform::kOk;
  }
  // The raw bytes of a value, or "<missing>".
  static std::string rawValue(const std::string& value, const std::string& name = "Explorer") {
    platform::RegKey key;
    if (platform::RegKey::open(platform::RegRoot::CurrentUser, keyPath(name), &key) !=
        platform::kOk) {
      return "<missing>";
    }
    platform::RegValue found;
    if (key.readValue(value, &found) != platform::kOk) return "<missing>";
    return found.data;
  }
  static uint32_t dwordValue(const std::string& value, const std::string& name = "Explorer") {
    std::string raw = rawValue(value, name);
    EXPECT_EQ(raw.size(), 4u) << value;
    if (raw.size() != 4) return 0xBAD;
    return static_cast<uint8_t>(raw[0]) | static_cast<uint8_t>(raw[1]) << 8 |
           static_cast<uint8_t>(raw[2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(raw[3])) << 24;
  }

  testsupport::TempPrefix prefix_;
};

}  // namespace corvex::test
