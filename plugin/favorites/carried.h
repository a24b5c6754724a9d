// Which entries of the Favorites folder a document can carry, and the record
// of those a read carried.
//
// The reader and the writer agree through these rules: the reader puts into
// a document only names the writer can create again, and the writer replaces
// only what the reader read. An entry left out (a name that is not text, that
// is empty, ".", "..", holds a refused character or makes a path past the
// system's limit; a second name that would read the same; a shortcut file
// too large to be one) is logged and left where it is, untouched, on every
// run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/directory.h"

namespace favorites {

// A shortcut file is a few hundred bytes, a few kilobytes with an embedded
// icon; anything larger is not read.
inline constexpr uint64_t kMaxShortcutFileSize = 4 * 1024 * 1024;
// Longest paths, in UTF-16 units, that the system's calls take: a folder
// must leave room for an 8.3 file name within 260 units, a file path is at
// most 259 units and its terminating zero.
inline constexpr size_t kMaxFolderPath = 247;
inline constexpr size_t kMaxFilePath = 259;

// The item a folder entry (a directory, or a shortcut file) would be in a
// document: its name (a shortcut's up to its last dot, so ".url" names
// nothing and "..url" names "."), or why it cannot be carried.
struct CarriedName {
  std::u16string itemName;
  std::optional<std::string> leftOut;  // the reason, when it cannot be carried
};
// `folderLength` is the length in UTF-16 units of the path of the entry's
// folder.
CarriedName carriedName(const platform::DirectoryEntry& entry, size_t folderLength);

// What one read carried: every folder and shortcut file, by its path
// relative to the Favorites folder, with the size and write time a file had.
class ReadSet {
 public:
  void add(const std::filesystem::path& relative, const platform::DirectoryEntry& entry);
  // True when the entry now at the relative path is the one read: the same
  // kind, and for a file the same size and write time. A file changed or
  // created since the read is not.
  bool holds(const std::filesystem::path& relative, const platform::DirectoryEntry& entry) const;
  size_t size() const { return items_.size(); }

 private:
  struct Identity {
    bool folder = false;
    uint64_t size = 0;
    int64_t writeTime = 0;
  };
  std::map<std::string, Identity> items_;
};

}  // namespace favorites
