// Injected failures, for tests: make platform calls fail as the system would
// (a full disk, a read-only registry) without breaking the machine.
//
// A fault makes every matching call fail with its Status (and set the last
// error where the call does) until it is cleared. Faults come from
// injectFault in this process, and from QUORVANE_FAULTS, read on every call,
// so that a test can hand them to programs it starts:
//
//   QUORVANE_FAULTS="file-write=112@bookmarks_Explorer.cfg;registry-write=5"
//
// Each entry is SITE=CODE, optionally @TEXT to fail only calls whose path
// contains TEXT, optionally #N to let the first N matching calls of the
// process succeed (counted afresh when the variable changes), or #N:K to
// fail only the K matching calls after those (a passing fault: the disk
// that is full for a moment, the folder that is busy once). CODE "kill"
// ends the process with SIGKILL at the matching call instead.
//
// Sites: registry-read, registry-write (every operation on either hive;
// @HKCU or @HKLM picks one), file-read (readWholeFile, fileSize,
// listDirectory), file-write (writeWholeFile, createAndWriteFile,
// replaceFileContents, appendToFile, createTempFile, makeDirectory,
// ensureDirectory), file-move (movePath: a rename refused, as a folder in
// use refuses it; a full disk does not fail a rename).
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/export.h"

namespace platform {

enum class FaultSite { RegistryRead, RegistryWrite, FileRead, FileWrite, FileMove };

inline constexpr unsigned kEveryCall = ~0u;

// Adds a fault; pathContains limits it to paths that contain the text. The
// first `passing` matching calls still succeed, so that passing = n - 1 fails
// the n-th call and (with `failing` left at kEveryCall) every later one; with
// a `failing` count only that many calls fail, the later ones succeed.
PLATFORM_API void injectFault(FaultSite site, Status status, const std::string& pathContains = "",
                              unsigned passing = 0, unsigned failing = kEveryCall);
// Removes every fault added by injectFault (not those of QUORVANE_FAULTS).
PLATFORM_API void clearFaults();

}  // namespace platform
