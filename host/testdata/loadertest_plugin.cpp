// A library with an entry point that links the engine test library. With
// LOADERTEST_LEAK_TIMER set its attach call creates a thread timer that it
// never kills.
#include <cstdint>
#include <cstdlib>

#include "host/testdata/loadertest_log.h"
#include "platform/message_loop.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

extern "C" int loadertestEngineAttachCount();

static void leakedTimer(uint32_t, uint32_t) { loadertest::record("plugin", "timer"); }

EXPORT int32_t DllMain(void*, uint32_t reason, void*) {
  if (reason == 1) {
    loadertest::record("plugin", "attach");
    if (std::getenv("LOADERTEST_LEAK_TIMER")) platform::setThreadTimer(10, leakedTimer);
    return loadertest::attachFails("plugin") ? 0 : 1;
  }
  if (reason == 0) loadertest::record("plugin", "detach");
  return 1;
}

EXPORT int loadertestPluginSeesEngine() { return loadertestEngineAttachCount(); }
