// The engine's interface: the only header a host of the engine includes.
//
// Every function except SetRegisterFunc names the calling application; behind
// the name stands one set of settings per process, created on first use and
// kept until the engine is unloaded. Strings are bytes in the system's ANSI
// code page. No function throws; Synchronize reports failures as text.
//
// The names, argument types and results are bound by the host at load time
// (C++ linkage, std::string): they must not change.
#pragma once

#include <string>

#define CORVEX_API __attribute__((visibility("default")))

// Runs one synchronisation: with showDialog, through the options dialog (its
// "&Synchronize now" button); otherwise at once, after validating the
// settings. *data holds the host's exchange document on entry and, on
// success, the document to apply (empty when there is nothing to apply); on
// failure it is left as it was. *error always receives the error text, empty
// on success. Returns true exactly when the error text is empty.
CORVEX_API bool Synchronize(bool showDialog, const std::string& appName, std::string* data,
                            std::string* error);

// Synchronisation is switched on. With reload, the settings are re-read from
// the shared registry copy first, so that changes of other processes count.
CORVEX_API bool SyncEnabled(const std::string& appName, bool reload);
CORVEX_API bool SyncAfterStart(const std::string& appName);
CORVEX_API bool SyncBeforeExit(const std::string& appName);
CORVEX_API bool SyncAuto(const std::string& appName);
// Stores the value and writes all settings to the shared registry copy.
CORVEX_API void SetSyncAuto(const std::string& appName, int value);
// Minutes between automatic synchronisations.
CORVEX_API int SyncInterval(const std::string& appName);

// The count of host processes, kept in the shared registry copy.
CORVEX_API void InitInstanceCount(const std::string& appName);
CORVEX_API void IncInstanceCount(const std::string& appName);
// 32-bit unsigned arithmetic: 0 becomes 4294967295.
CORVEX_API void DecInstanceCount(const std::string& appName);
// 0 when the counter is missing or unreadable.
CORVEX_API unsigned long GetInstanceCount(const std::string& appName);

// Non-zero when the host should show its error icon after a failed run.
CORVEX_API int ShowErrorIcon(const std::string& appName);

// The function the options dialog's "Register" button calls (hidden while
// null). Names no application.
CORVEX_API void SetRegisterFunc(void (*registerFunc)());
