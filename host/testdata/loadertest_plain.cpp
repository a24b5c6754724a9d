// A library without an entry point of its own that links the plug-in test
// library: the loader must look through it to the entry points below.
#include "host/testdata/loadertest_log.h"

extern "C" int loadertestPluginSeesEngine();

extern "C" __attribute__((visibility("default"))) int loadertestPlainValue() {
  return loadertestPluginSeesEngine() + 100;
}
