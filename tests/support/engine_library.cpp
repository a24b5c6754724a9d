#include "tests/support/engine_library.h"

#include <dlfcn.h>

#include <system_error>

#include "tests/support/child_process.h"

namespace testsupport {
namespace {

// The exports have C++ linkage; these are their names as the compiler gives
// them (Itanium C++ ABI, std::string of the C++11 library ABI).
constexpr char kSynchronize[] =
    "_Z11SynchronizebRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEPS4_S7_";
constexpr char kSyncEnabled[] = "_Z11SyncEnabledRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEEb";
constexpr char kShowErrorIcon[] = "_Z13ShowErrorIconRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE";

}  // namespace

EngineLibrary::EngineLibrary(const std::filesystem::path& folder) : path_(folder / "libcorvex.so") {
  std::error_code ec;
  // A fresh file: overwriting one that is still mapped would corrupt it.
  std::filesystem::remove(path_, ec);
  std::filesystem::copy_file(binaryDir() / "libcorvex.so", path_, ec);
  if (ec) {
    error_ = "copy: " + ec.message();
    return;
  }
  handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) error_ = dlerror();
}

EngineLibrary::~EngineLibrary() { unload(); }

void EngineLibrary::unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
}

void* EngineLibrary::symbol(const char* mangledName) {
  if (!handle_) return nullptr;
  void* found = dlsym(handle_, mangledName);
  if (!found) error_ = std::string("missing export ") + mangledName;
  return found;
}

bool EngineLibrary::synchronize(bool showDialog, const std::string& appName, std::string* data,
                                std::string* error) {
  using Fn = bool (*)(bool, const std::string&, std::string*, std::string*);
  auto fn = reinterpret_cast<Fn>(symbol(kSynchronize));
  if (!fn) {
    if (error) *error = error_;
    return false;
  }
  return fn(showDialog, appName, data, error);
}

bool EngineLibrary::syncEnabled(const std::string& appName, bool reload) {
  using Fn = bool (*)(const std::string&, bool);
  auto fn = reinterpret_cast<Fn>(symbol(kSyncEnabled));
  return fn && fn(appName, reload);
}

int EngineLibrary::showErrorIcon(const std::string& appName) {
  using Fn = int (*)(const std::string&);
  auto fn = reinterpret_cast<Fn>(symbol(kShowErrorIcon));
  return fn ? fn(appName) : -1;
}

}  // namespace testsupport
