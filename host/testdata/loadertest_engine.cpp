// A library that another one links through its import table, with an entry
// point of its own.
#include <cstdint>

#include "host/testdata/loadertest_log.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

static int attachCount = 0;

EXPORT int32_t DllMain(void*, uint32_t reason, void*) {
  if (reason == 1) {
    ++attachCount;
    loadertest::record("engine", "attach");
    return loadertest::attachFails("engine") ? 0 : 1;
  }
  if (reason == 0) loadertest::record("engine", "detach");
  return 1;
}

EXPORT int loadertestEngineAttachCount() { return attachCount; }
