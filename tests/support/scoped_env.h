// Sets (or unsets) an environment variable for a scope and restores the
// previous state afterwards.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace testsupport {

class ScopedEnv {
 public:
  // A null value unsets the variable.
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() {
    if (previous_) {
      setenv(name_.c_str(), previous_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// No proxy settings from the environment of whoever runs the tests.
class NoProxyEnvironment {
 public:
  NoProxyEnvironment()
      : a_("http_proxy", nullptr),
        b_("HTTP_PROXY", nullptr),
        c_("no_proxy", nullptr),
        d_("NO_PROXY", nullptr),
        e_("QUORVANE_PROXY_PAC_URL", nullptr),
        f_("QUORVANE_PROXY_AUTODETECT", nullptr) {}

 private:
  ScopedEnv a_, b_, c_, d_, e_, f_;
};

}  // namespace testsupport
