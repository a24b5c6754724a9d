// regsvr32 [/u] [/s] LIBRARY: the registration tool. Loads the library (its
// entry point gets process attach and, at the end, process detach), calls
// DllRegisterServer or, with /u, DllUnregisterServer, and reports the result.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com.h"
#include "platform/library.h"

namespace {

constexpr const char* kUsage =
    "usage: regsvr32 [/u] [/s] LIBRARY\n"
    "Registers an in-process server: loads LIBRARY and calls its DllRegisterServer\n"
    "(DllUnregisterServer with /u). Prints one line with the outcome (none with /s\n"
    "when it succeeds). Exit status: 0 when the call returned S_OK, 1 for bad\n"
    "arguments, 3 when the library cannot be loaded, 4 when it lacks the entry\n"
    "point, 5 when the call failed (its HRESULT is printed in hex).\n";

bool isOption(const char* arg, const char* name) {
  return (arg[0] == '/' || arg[0] == '-') && strcasecmp(arg + 1, name) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool unregister = false;
  bool silent = false;
  const char* libraryPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || isOption(arg, "?") || isOption(arg, "h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (isOption(arg, "u")) {
      unregister = true;
    } else if (isOption(arg, "s")) {
      silent = true;
    } else if (arg[0] == '-' || (arg[0] == '/' && std::strlen(arg) == 2)) {
      std::fprintf(stderr, "regsvr32: unknown option %s (see --help)\n", arg);
      return 1;
    } else if (!libraryPath) {
      libraryPath = arg;
    } else {
      std::fprintf(stderr, "regsvr32: more than one library given (see --help)\n");
      return 1;
    }
  }
  if (!libraryPath) {
    std::fputs(kUsage, stderr);
    return 1;
  }

  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  platform::Library library;
  if (std::string error = platform::Library::open(libraryPath, &library); !error.empty()) {
    std::printf("regsvr32: %s\n", error.c_str());
    return 3;
  }
  auto entry = library.function<DllRegisterServerFunction>(entryName);
  if (!entry) {
    std::printf("regsvr32: %s was loaded, but the %s entry point was not found.\n", libraryPath,
                entryName);
    return 4;
  }
  const HRESULT result = entry();
  library.close();
  if (result != S_OK) {
    std::printf("regsvr32: %s in %s failed. Return code was: %s\n", entryName, libraryPath,
                platform::hresultToString(result).c_str());
    return 5;
  }
  if (!silent) std::printf("regsvr32: %s in %s succeeded.\n", entryName, libraryPath);
  return 0;
}
