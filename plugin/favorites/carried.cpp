#include "plugin/favorites/carried.h"

#include "platform/codepage.h"
#include "plugin/favorites/item_nodes.h"

namespace favorites {

std::optional<std::string> leftOutReason(const std::filesystem::path& name, size_t folderLength,
                                         const std::filesystem::path& itemName, bool folder) {
  if (!platform::nameIsText(name)) return "the name is not text in any character set this system reads";
  if (!isSafeItemName(platform::pathToUtf16(itemName))) {
    return "the name cannot be given to a " + std::string(folder ? "folder" : "bookmark");
  }
  if (folderLength + 1 + platform::pathToUtf16(name).size() > (folder ? kMaxFolderPath : kMaxFilePath)) {
    return "the path is longer than the system allows";
  }
  return std::nullopt;
}

void ReadSet::add(const std::filesystem::path& relative, const platform::DirectoryEntry& entry) {
  items_[relative.native()] = Identity{entry.directory, entry.size, entry.writeTime};
}

bool ReadSet::holds(const std::filesystem::path& relative, const platform::DirectoryEntry& entry) const {
  const auto found = items_.find(relative.native());
  if (found == items_.end() || found->second.folder != entry.directory) return false;
  if (entry.directory) return true;
  return found->second.size == entry.size && found->second.writeTime == entry.writeTime;
}

}  // namespace favorites
