// The settings file and credential parsers over arbitrary bytes, as the
// fuzzer (settings_fuzz.cpp) and the corpus replay (settings_fuzz_test.cpp)
// run them: every key lookup, number reading and unscrambling that reading a
// settings file does, without a ClientApp around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/scramble.h"
#include "engine/settings_text.h"

namespace corvex {

inline void parseSettingsBytes(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static const char* const kNumbers[] = {"enabled",     "server.port",     "sync.auto",
                                         "sync.period", "sync.afterstart", "sync.beforeexit",
                                         "proxy.auth",  "erroricon"};
  static const char* const kCredentials[] = {"username", "password", "proxy.username",
                                             "proxy.password"};
  for (const char* key : kNumbers) {
    if (auto value = findSettingValue(text, key)) parseSettingNumber(*value);
  }
  findSettingValue(text, "server");
  for (const char* key : kCredentials) {
    if (auto value = findSettingValue(text, key)) unscrambleCredential(*value);
  }
  // The whole input as one credential text, as the registry copy holds it.
  std::string clear = unscrambleCredential(text);
  if (clear.size() > text.size()) __builtin_trap();
}

}  // namespace corvex
