// One synchronisation run of the Favorites folder with the service: online
// check, the machine-wide run mutex, reading the folder, the recovery
// document after a failed write, the engine's Synchronize, writing the
// result back, the record "lastsync", the menu orders and the error window.
#pragma once

#include <cstdint>
#include <string>

namespace bookmark {

// Every outcome is reported as the run describes (message boxes only when
// interactive, the error window when the engine's errorIcon says so).
void synchronizeFavorites(const std::string& appName, bool interactive);

// "lastsync" of the application's key: 1 when the key or value is missing
// or unreadable.
//
// 0 means that a result may have been agreed with the service (and stored
// in the engine's cache) without being written into the Favorites folder: it
// is stored, and read back, before the engine is called, and returns to 1
// only after a run that applied its result or had nothing to apply. A run
// that fails before the engine has a result leaves it as it was. The next
// run after a 0 unites what the folder holds with the cache, so that what
// the folder misses is never taken as deleted.
uint32_t readLastSync(const std::string& appName);
// Sets "lastsync" (REG_DWORD); false when it could not be stored.
bool writeLastSync(const std::string& appName, uint32_t value);

}  // namespace bookmark
