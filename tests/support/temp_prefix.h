// A fresh prefix for one test: a temporary directory that QUORVANE_PREFIX
// points at for the test's lifetime, removed afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class TempPrefix {
 public:
  TempPrefix();
  ~TempPrefix();
  TempPrefix(const TempPrefix&) = delete;
  TempPrefix& operator=(const TempPrefix&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// A fresh temporary directory (not a prefix), removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace testsupport
