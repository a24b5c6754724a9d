// A private prefix for a fuzz target's process: a fresh temporary folder as
// QUORVANE_PREFIX, made on the first call and removed when the process ends,
// so that a target touches no file outside it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace fuzzsupport {

inline const std::filesystem::path& fuzzPrefix() {
  static const std::filesystem::path prefix = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    setenv("QUORVANE_PREFIX", pattern.c_str(), 1);
    setenv("TZ", "UTC", 1);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(std::getenv("QUORVANE_PREFIX"), ignored);
    });
    return std::filesystem::path(pattern);
  }();
  return prefix;
}

inline std::string bytesOf(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzzsupport
