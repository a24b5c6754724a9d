// The connection state, as InternetGetConnectedState(Ex) reports it.
//
// The machine counts as online on a LAN unless the marker file
// prefix/run/offline exists; the state is read on every call, so creating or
// removing the file switches it at once for every process of the prefix.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/export.h"

namespace platform {

// Connection flags (INTERNET_CONNECTION_*).
inline constexpr uint32_t kInternetConnectionModem = 0x01;
inline constexpr uint32_t kInternetConnectionLan = 0x02;
inline constexpr uint32_t kInternetConnectionProxy = 0x04;
inline constexpr uint32_t kInternetConnectionOffline = 0x20;
inline constexpr uint32_t kInternetConnectionConfigured = 0x40;

// The name the system gives to the LAN connection.
inline constexpr const char* kLanConnectionName = "LAN Connection";

// True when the machine has an internet connection. *flags (may be null)
// receives the connection flags: kInternetConnectionLan |
// kInternetConnectionConfigured when online, kInternetConnectionOffline
// otherwise. connectionName (may be null) receives the connection's name,
// cut to capacity - 1 bytes as a caller's buffer of that size would hold it.
PLATFORM_API bool internetConnectedState(uint32_t* flags, std::string* connectionName = nullptr,
                                         size_t capacity = 512);

// The marker file whose presence means offline.
PLATFORM_API std::filesystem::path offlineMarkerPath();
// Creates or removes the marker; false when that fails.
PLATFORM_API bool setInternetOffline(bool offline);

}  // namespace platform
