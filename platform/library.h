// Loading shared libraries the way the Windows loader loads DLLs.
//
// A library may export an entry point `DllMain` (extern "C", DllMainFunction).
// The loader calls it with kDllProcessAttach after the library is mapped and
// with kDllProcessDetach before it is unmapped, exactly once per process for
// each, however often the library is opened: opens are counted and only the
// last close detaches and unmaps.
//
// Libraries that a library links through its import table (its DT_NEEDED
// entries, followed recursively) are initialised with it: each of them that
// exports its own DllMain is attached before the library that needs it and
// detached after it, again once per process. So when the plug-in links the
// engine, opening the plug-in attaches the engine first and then the plug-in;
// closing it detaches the plug-in first and then the engine.
//
// Heavy work belongs in DllMain, never in ELF constructors: constructors run
// inside dlopen, before anything else of the library is usable.
//
// A thread timer whose callback lives in a library that has been unmapped is
// killed when the library is closed, so that a careless library cannot leave
// a dangling callback behind in the message loop.
//
// All operations may be called from any thread; they are serialised by one
// process-wide lock that is held while entry points run (the loader lock), so
// an entry point may open or close other libraries.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/export.h"

namespace platform {

inline constexpr uint32_t kDllProcessDetach = 0;
inline constexpr uint32_t kDllProcessAttach = 1;
inline constexpr uint32_t kDllThreadAttach = 2;
inline constexpr uint32_t kDllThreadDetach = 3;

// BOOL DllMain(HINSTANCE module, DWORD reason, LPVOID reserved). `module` is
// the library's module handle (see moduleFileName); `reserved` is null, as it
// is for libraries loaded and freed at run time. Returning 0 from the attach
// call makes the open fail: the library then gets its detach call and is
// unmapped again.
using DllMainFunction = int32_t (*)(void* module, uint32_t reason, void* reserved);

// One open reference to a loaded library. Closing it (or destroying it)
// releases the reference.
class PLATFORM_API Library {
 public:
  Library();
  ~Library();
  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // Maps the library (resolving all its symbols at once) and runs the attach
  // calls described above. Returns the empty text on success, otherwise a
  // text naming the operation and the library; *library is unchanged then.
  // An open library in *library is closed first on success.
  static std::string open(const std::filesystem::path& path, Library* library);

  bool isOpen() const;
  // The exported symbol, or null when the library has none of that name.
  void* symbol(const char* name) const;
  template <typename Function>
  Function function(const char* name) const {
    return reinterpret_cast<Function>(symbol(name));
  }
  // The module handle passed to the library's DllMain.
  void* moduleHandle() const;
  // The library's full path.
  std::filesystem::path path() const;

  // Releases the reference; the last one runs the detach calls and unmaps.
  void close();

  // The loader's record of a mapped module (defined in library.cpp).
  struct Module;

 private:
  Module* module_ = nullptr;
};

// True while the library at that path is mapped into the process (by this
// loader or as a dependency of something else).
PLATFORM_API bool libraryIsMapped(const std::filesystem::path& path);

// The full path of the process's executable (GetModuleFileName(NULL, ...)).
PLATFORM_API std::filesystem::path executablePath();
// The full path of a module given its handle; null gives the executable.
PLATFORM_API std::filesystem::path moduleFileName(void* module);

}  // namespace platform
