#include "platform/library.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "platform/message_loop.h"

namespace platform {

// One loaded module. The table holds exactly one dlopen reference per module;
// `references` counts the Library objects and the dependents that use it.
struct Library::Module {
  void* handle = nullptr;
  link_map* map = nullptr;
  DllMainFunction entry = nullptr;
  int references = 0;
  // Modules with an entry point that this one attached on its behalf, in
  // attach order (dependencies first); released in reverse order.
  std::vector<Module*> dependencies;
};

namespace {

std::recursive_mutex& loaderLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::map<link_map*, Library::Module*>& moduleTable() {
  static auto* table = new std::map<link_map*, Library::Module*>();
  return *table;
}

link_map* linkMapOf(void* handle) {
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

// The library's own DllMain, not one that dlsym found in a dependency.
DllMainFunction ownEntry(void* handle, link_map* map) {
  void* symbol = dlsym(handle, "DllMain");
  if (!symbol) return nullptr;
  Dl_info info;
  link_map* owner = nullptr;
  if (!dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP)) return nullptr;
  return owner == map ? reinterpret_cast<DllMainFunction>(symbol) : nullptr;
}

// The DT_NEEDED names of a mapped object. The dynamic loader relocates the
// address entries of the dynamic section in place on most targets but not on
// all; an address below the load bias has not been relocated.
std::vector<std::string> neededNames(const link_map* map) {
  std::vector<std::string> names;
  if (!map || !map->l_ld) return names;
  const char* strings = nullptr;
  for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d) {
    if (d->d_tag == DT_STRTAB) {
      uintptr_t address = d->d_un.d_ptr;
      if (address < map->l_addr) address += map->l_addr;
      strings = reinterpret_cast<const char*>(address);
    }
  }
  if (!strings) return names;
  for (const ElfW(Dyn)* d = map->l_ld; d->d_tag != DT_NULL; ++d) {
    if (d->d_tag == DT_NEEDED) names.emplace_back(strings + d->d_un.d_val);
  }
  return names;
}

struct Dependency {
  void* handle;  // a dlopen(RTLD_NOLOAD) reference
  link_map* map;
};

// Post-order walk over the import tables below `map`: every object appears
// after the objects it needs. The root itself is not included.
void collectDependencies(link_map* map, std::set<link_map*>* seen, std::vector<Dependency>* order) {
  for (const std::string& name : neededNames(map)) {
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) continue;
    link_map* child = linkMapOf(handle);
    if (!child || !seen->insert(child).second) {
      dlclose(handle);
      continue;
    }
    collectDependencies(child, seen, order);
    order->push_back({handle, child});
  }
}

bool attach(Library::Module* module) {
  if (!module->entry) return true;
  return module->entry(module->handle, kDllProcessAttach, nullptr) != 0;
}

void detach(Library::Module* module) {
  if (module->entry) module->entry(module->handle, kDllProcessDetach, nullptr);
}

// Drops one reference; the last one detaches, releases the module's own
// dependencies and unmaps it.
void release(Library::Module* module) {
  if (--module->references > 0) return;
  detach(module);
  for (auto it = module->dependencies.rbegin(); it != module->dependencies.rend(); ++it) {
    release(*it);
  }
  moduleTable().erase(module->map);
  dlclose(module->handle);
  delete module;
}

std::string dlErrorText() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

}  // namespace

Library::Library() = default;

Library::~Library() { close(); }

Library::Library(Library&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    close();
    module_ = other.module_;
    other.module_ = nullptr;
  }
  return *this;
}

std::string Library::open(const std::filesystem::path& path, Library* library) {
  std::lock_guard<std::recursive_mutex> guard(loaderLock());
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return "load library " + path.string() + ": " + dlErrorText();
  link_map* map = linkMapOf(handle);
  if (!map) {
    dlclose(handle);
    return "load library " + path.string() + ": no link map";
  }

  auto& table = moduleTable();
  if (auto found = table.find(map); found != table.end()) {
    dlclose(handle);  // the table keeps its own reference
    ++found->second->references;
    Library opened;
    opened.module_ = found->second;
    *library = std::move(opened);
    return {};
  }

  auto* module = new Module;
  module->handle = handle;
  module->map = map;
  module->entry = ownEntry(handle, map);
  module->references = 1;
  table[map] = module;

  // Dependencies with their own entry point are attached first, deepest first.
  std::set<link_map*> seen{map};
  std::vector<Dependency> dependencies;
  collectDependencies(map, &seen, &dependencies);
  std::string failure;
  for (const Dependency& dependency : dependencies) {
    if (!failure.empty()) {
      dlclose(dependency.handle);
      continue;
    }
    if (auto found = table.find(dependency.map); found != table.end()) {
      dlclose(dependency.handle);
      ++found->second->references;
      module->dependencies.push_back(found->second);
      continue;
    }
    DllMainFunction entry = ownEntry(dependency.handle, dependency.map);
    if (!entry) {
      dlclose(dependency.handle);
      continue;
    }
    auto* needed = new Module;
    needed->handle = dependency.handle;
    needed->map = dependency.map;
    needed->entry = entry;
    needed->references = 1;
    table[dependency.map] = needed;
    if (!attach(needed)) {
      failure = std::string("process attach of ") + dependency.map->l_name + " failed";
      detach(needed);
      table.erase(dependency.map);
      dlclose(needed->handle);
      delete needed;
      continue;
    }
    module->dependencies.push_back(needed);
  }
  const bool dependencyFailed = !failure.empty();
  if (!dependencyFailed && !attach(module)) failure = "process attach failed";
  if (!failure.empty()) {
    // release() gives the module its detach call, which the system's loader
    // also makes after a failed attach; a module never attached gets none.
    if (dependencyFailed) module->entry = nullptr;
    release(module);
    detail::killTimersOfUnmappedCallbacks();
    return "load library " + path.string() + ": " + failure;
  }
  Library opened;
  opened.module_ = module;
  *library = std::move(opened);
  return {};
}

bool Library::isOpen() const { return module_ != nullptr; }

void* Library::symbol(const char* name) const {
  if (!module_) return nullptr;
  return dlsym(module_->handle, name);
}

void* Library::moduleHandle() const { return module_ ? module_->handle : nullptr; }

std::filesystem::path Library::path() const {
  return module_ ? moduleFileName(module_->handle) : std::filesystem::path();
}

void Library::close() {
  if (!module_) return;
  std::lock_guard<std::recursive_mutex> guard(loaderLock());
  Module* module = module_;
  module_ = nullptr;
  release(module);
  detail::killTimersOfUnmappedCallbacks();
}

bool libraryIsMapped(const std::filesystem::path& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  dlclose(handle);
  return true;
}

std::filesystem::path executablePath() {
  std::string buffer(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<size_t>(n));
  return buffer;
}

std::filesystem::path moduleFileName(void* module) {
  if (!module) return executablePath();
  link_map* map = linkMapOf(module);
  if (!map || !map->l_name || !*map->l_name) return executablePath();
  std::error_code ec;
  std::filesystem::path path = std::filesystem::absolute(map->l_name, ec);
  return ec ? std::filesystem::path(map->l_name) : path.lexically_normal();
}

}  // namespace platform
