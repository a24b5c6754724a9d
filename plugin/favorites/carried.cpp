#include "plugin/favorites/carried.h"

#include "platform/codepage.h"
#include "plugin/favorites/item_nodes.h"

namespace favorites {

CarriedName carriedName(const platform::DirectoryEntry& entry, size_t folderLength) {
  CarriedName carried;
  const std::u16string name = platform::pathToUtf16(entry.name);
  carried.itemName = entry.directory ? name : name.substr(0, name.rfind(u'.'));
  if (!platform::nameIsText(entry.name)) {
    carried.leftOut = "the name is not text in any character set this system reads";
  } else if (!isSafeItemName(carried.itemName)) {
    carried.leftOut = "the name cannot be given to a " + std::string(entry.directory ? "folder" : "bookmark");
  } else if (folderLength + 1 + name.size() > (entry.directory ? kMaxFolderPath : kMaxFilePath)) {
    carried.leftOut = "the path is longer than the system allows";
  } else if (!entry.directory && entry.size > kMaxShortcutFileSize) {
    carried.leftOut = "the file is larger than " + std::to_string(kMaxShortcutFileSize >> 20) +
                      " MiB, too large for a shortcut";
  }
  return carried;
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
