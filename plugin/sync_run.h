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
uint32_t readLastSync(const std::string& appName);
// Sets "lastsync" (REG_DWORD); a failure is ignored.
void writeLastSync(const std::string& appName, uint32_t value);

}  // namespace bookmark
