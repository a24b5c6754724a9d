// The engine as a host process has it: a private copy of build/bin/libcorvex.so
// in a folder of the test's, loaded with dlopen and unloaded by the
// destructor (which runs the engine's unload: every settings file is
// written). Files the engine looks for beside itself ("syncMethod.ini") are
// then the test's own, so tests running at the same time do not meet.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class EngineLibrary {
 public:
  // Copies the library into the folder (which must exist) and loads it.
  explicit EngineLibrary(const std::filesystem::path& folder);
  ~EngineLibrary();
  EngineLibrary(const EngineLibrary&) = delete;
  EngineLibrary& operator=(const EngineLibrary&) = delete;

  // False, with the loader's message in error(), when loading failed.
  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }
  const std::filesystem::path& path() const { return path_; }
  // The folder of the loaded copy: where "syncMethod.ini" is looked for.
  std::filesystem::path folder() const { return path_.parent_path(); }

  // Unloads now (the engine's unload runs); later calls fail.
  void unload();

  // The exports (engine/corvex.h).
  bool synchronize(bool showDialog, const std::string& appName, std::string* data, std::string* error);
  bool syncEnabled(const std::string& appName, bool reload);
  int showErrorIcon(const std::string& appName);

 private:
  void* symbol(const char* mangledName);
  std::filesystem::path path_;
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace testsupport
