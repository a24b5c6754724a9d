// The plug-in's process-wide state: one set per process, touched only on
// user-interface threads and without a lock (runs are kept apart by the run
// mutex, and load, unload and the timer run on the loading thread).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

#include "platform/named_mutex.h"
#include "plugin/error_window.h"

namespace bookmark {

class IEBookmark;

struct PluginState {
  // The module's full path (registration, icon resources).
  std::filesystem::path modulePath;
  // The host executable is IEXPLORE.EXE (compared without case).
  bool hostIsBrowser = false;
  // This process holds the start-up mutex and runs the automatic runs.
  bool firstInstance = false;
  std::unique_ptr<platform::NamedMutex> startupMutex;
  uint32_t timerId = 0;
  // Tick count at library load, then at each timer-started run.
  uint32_t lastTimerRun = 0;
  // The most recently created object (the sign-up callback's browser).
  IEBookmark* currentObject = nullptr;
  std::unique_ptr<ErrorWindow> errorWindow;
};

PluginState& pluginState();

}  // namespace bookmark
