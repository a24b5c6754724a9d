// Shared by the loader's test libraries: every entry-point call appends one
// line to the file that LOADERTEST_LOG names.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace loadertest {

inline void record(const char* who, const char* what) {
  const char* path = std::getenv("LOADERTEST_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s %s\n", who, what);
    std::fclose(f);
  }
}

// LOADERTEST_FAIL_ATTACH names the library whose attach call returns 0.
inline bool attachFails(const char* who) {
  const char* failing = std::getenv("LOADERTEST_FAIL_ATTACH");
  return failing && std::strcmp(failing, who) == 0;
}

}  // namespace loadertest
