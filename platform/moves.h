// Moving files and folders within one file system, and making what was
// written durable. These are the steps of an apply that never shows a
// half-written file: build aside, then move into place.
#pragma once

#include <filesystem>

#include "platform/export.h"

namespace platform {

// Renames a file or a folder (with everything inside it) to a path on the
// same file system. Never replaces anything: fails with kAlreadyExists when
// the target exists, as MoveFile does. Other failures: kPathNotFound (source
// or target folder missing), kAccessDenied (a folder in use may refuse),
// kNotSameDevice across file systems. Injected faults: the file-move site,
// matched on the target path.
PLATFORM_API bool movePath(const std::filesystem::path& from, const std::filesystem::path& to);

// Writes everything cached for the file system that holds the path to the
// disk (syncfs): after it, a power cut keeps what was written before.
PLATFORM_API bool flushFileSystem(const std::filesystem::path& path);

}  // namespace platform
