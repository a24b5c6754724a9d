#include "tests/support/temp_prefix.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace testsupport {
namespace {

std::filesystem::path makeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

}  // namespace

TempPrefix::TempPrefix() : path_(makeTempDir()) {
  if (const char* old = std::getenv("QUORVANE_PREFIX")) {
    previous_ = old;
    hadPrevious_ = true;
  }
  setenv("QUORVANE_PREFIX", path_.c_str(), 1);
}

TempPrefix::~TempPrefix() {
  if (hadPrevious_) {
    setenv("QUORVANE_PREFIX", previous_.c_str(), 1);
  } else {
    unsetenv("QUORVANE_PREFIX");
  }
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TempDir::TempDir() : path_(makeTempDir()) {}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace testsupport
