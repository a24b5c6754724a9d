// The prefix: the directory under which the stand-in keeps all of its state
// (registry hives, the user's profile folders, mutex lock files, temporary
// files). Chosen by QUORVANE_PREFIX, default ~/.quorvane, read on every call so
// that tests can give each case its own prefix.
//
//   registry/HKCU.db, registry/HKLM.db   registry hives (SQLite)
//   profile/Favorites/                   the per-user Favorites folder
//   profile/AppData/Roaming/             the roaming application-data folder
//   run/                                 lock files of named mutexes
//   tmp/                                 temporary files
#pragma once

#include <filesystem>

#include "platform/export.h"

namespace platform {

// The prefix directory itself (not created).
PLATFORM_API std::filesystem::path prefixRoot();

// prefixRoot() / relative, with every missing directory of it created (0700).
PLATFORM_API std::filesystem::path prefixDirectory(const std::filesystem::path& relative);

}  // namespace platform
