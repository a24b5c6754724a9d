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

}  // namespace platform
