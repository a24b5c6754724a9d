// Directory listing, wildcard searches and short names.
//
// A listing returns the entries in the order the file system hands them out
// (readdir order), "." and ".." included, as a search for "*.*" does on the
// system the product was written for. Every function that fails sets the
// calling thread's last error (platform/last_error.h).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/export.h"

namespace platform {

struct DirectoryEntry {
  std::filesystem::path name;  // the last component only
  // The directory attribute. A symbolic link to a directory carries it too
  // (together with symbolicLink), as a directory reparse point does.
  bool directory = false;
  // A symbolic link (a reparse point); directory tells what it leads to.
  bool symbolicLink = false;
  // Neither a regular file nor a directory (a pipe, socket or device, or a
  // link to one, or a dangling link).
  bool special = false;
  // Of the entry itself (a link's own, not its target's): the size in bytes
  // and the last write time in nanoseconds since the epoch. Together they
  // tell whether a file changed since it was listed before.
  uint64_t size = 0;
  int64_t writeTime = 0;
};

// Lists the directory. False (and *entries unchanged) when it cannot be
// opened or read; the last error tells why (kPathNotFound for a missing one,
// kAccessDenied, ...).
PLATFORM_API bool listDirectory(const std::filesystem::path& dir,
                                std::vector<DirectoryEntry>* entries);

// Matches a name against a wildcard pattern: "*" any run of characters, "?"
// one character, ASCII letters compared without case, and "*.*" matches
// every name, as the system's file search does.
PLATFORM_API bool wildcardMatch(const std::string& pattern, const std::string& name);

// A file search: the pattern may hold wildcards in its last component only.
// Fills *matches (when given) with the matching names of the pattern's folder,
// in listing order, "." and ".." left out, without size and write time. False, with kFileNotFound, when
// nothing matches, or with the listing's error when the folder cannot be read.
PLATFORM_API bool findMatches(const std::filesystem::path& pattern,
                              std::vector<DirectoryEntry>* matches = nullptr);

// The last component of the 8.3 short form of an existing path. This file
// system has no short names: the answer is always empty.
PLATFORM_API std::u16string shortName(const std::filesystem::path& path);

}  // namespace platform
