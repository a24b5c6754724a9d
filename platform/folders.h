// Shell special folders.
#pragma once

#include <filesystem>

#include "platform/export.h"

namespace platform {

enum class SpecialFolder {
  Favorites,  // CSIDL_FAVORITES: prefix/profile/Favorites
  AppData,    // CSIDL_APPDATA: prefix/profile/AppData/Roaming
  Temp,       // GetTempPath: prefix/tmp
};

// The folder's path; the folder is created when missing. Never fails on a
// usable prefix; returns an empty path (and sets the last error) otherwise.
PLATFORM_API std::filesystem::path specialFolder(SpecialFolder folder);

// The folder's path only when the folder exists; it is never created. An
// empty path with kPathNotFound when it is missing (or is not a directory).
// The Favorites folder is looked up this way: a missing one must not be
// mistaken for an empty one.
PLATFORM_API std::filesystem::path findSpecialFolder(SpecialFolder folder);

}  // namespace platform
