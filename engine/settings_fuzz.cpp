// libFuzzer target: the settings file and credential parsers over any bytes.
// Build with -DBUILD_FUZZERS=ON and clang; run as
//   build/bin/settings_fuzz engine/fuzz_corpus/settings
#include "engine/settings_fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  corvex::parseSettingsBytes(data, size);
  return 0;
}
