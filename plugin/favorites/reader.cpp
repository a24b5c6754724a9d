#include "plugin/favorites/reader.h"

#include <ctime>
#include <set>
#include <vector>

#include "exchange/document.h"
#include "exchange/ordering.h"
#include "exchange/timestamp.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "plugin/favorites/favorites_log.h"
#include "plugin/favorites/item_nodes.h"
#include "plugin/favorites/last_error_text.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/shortcut.h"

namespace favorites {
namespace {

bool hasUrlExtension(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.size() - dot != 4) return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return extension == "url";
}

std::u16string outOfMemory() {
  platform::setLastError(platform::kNotEnoughMemory);
  return lastErrorText16();
}

void logLeftOut(const std::filesystem::path& path, const std::string& reason) {
  logNote("Favorites: " + path.string() + " is left out of the synchronization and left as it is: " + reason + ".");
}

// One folder's walk. `relative` is the folder's path below the Favorites
// folder, as the ReadSet keys it.
class FolderReader {
 public:
  FolderReader(const std::filesystem::path& folder, const std::filesystem::path& relative, ReadSet* read)
      : folder_(folder), folderLength_(platform::pathToUtf16(folder).size()), relative_(relative), read_(read) {}

  std::u16string read(xmlNode* parent, const std::u16string& relativePath) {
    std::vector<platform::DirectoryEntry> entries;
    if (!platform::listDirectory(folder_, &entries)) return lastErrorText16();
    for (const platform::DirectoryEntry& entry : entries) {
      const std::string bytes = entry.name.string();
      if (bytes == "." || bytes == "..") continue;
      std::u16string error;
      if (entry.directory) {
        error = readFolder(entry, parent, relativePath);
      } else if (!entry.special && hasUrlExtension(bytes)) {
        error = readShortcut(entry, parent, relativePath);
      }
      if (!error.empty()) return error;
    }
    return std::u16string();
  }

 private:
  std::u16string readFolder(const platform::DirectoryEntry& entry, xmlNode* parent,
                            const std::u16string& relativePath) {
    const std::filesystem::path path = folder_ / entry.name;
    // A link may lead out of the Favorites folder or back into itself.
    if (entry.symbolicLink) {
      logLeftOut(path, "it is a link to a folder");
      return std::u16string();
    }
    const CarriedName carried = carriedName(entry, folderLength_);
    if (carried.leftOut) {
      logLeftOut(path, *carried.leftOut);
      return std::u16string();
    }
    const std::u16string& name = carried.itemName;
    xmlNode* item = exchange::addElement(parent, exchange::kFolderElement);
    if (!item) return outOfMemory();
    exchange::addTextElement(item, exchange::kNameElement, platform::utf16ToUtf8(name));
    if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
      const int32_t position = order->lookupPosition(name, ItemKind::Folder);
      if (position >= 0 || position == -5) setOrder(item, position);
    }
    xmlNode* children = exchange::addElement(item, exchange::kChildrenElement);
    if (!children) return outOfMemory();
    if (read_) read_->add(relative_ / entry.name, entry);
    FolderReader inner(path, relative_ / entry.name, read_);
    return inner.read(children, relativePath + u"\\" + name);
  }

  std::u16string readShortcut(const platform::DirectoryEntry& entry, xmlNode* parent,
                              const std::u16string& relativePath) {
    const std::filesystem::path path = folder_ / entry.name;
    const CarriedName carried = carriedName(entry, folderLength_);
    if (carried.leftOut) {
      logLeftOut(path, *carried.leftOut);
      return std::u16string();
    }
    // Two files whose names differ only after the last dot ("News.url" and
    // "News.URL") would become one item: the first listed is carried.
    if (bookmarkNames_.count(carried.itemName)) {
      logLeftOut(path, "another entry of the folder has the same name");
      return std::u16string();
    }
    xmlNode* last = parent->last;
    std::u16string error = readInternetShortcut(path, parent, relativePath);
    if (!error.empty()) return error;
    // A file that is not an Internet shortcut adds nothing and is not carried.
    if (parent->last != last) {
      bookmarkNames_.insert(carried.itemName);
      if (read_) read_->add(relative_ / entry.name, entry);
    }
    return std::u16string();
  }

  const std::filesystem::path folder_;
  const size_t folderLength_;  // in UTF-16 units, as the system's limits count
  const std::filesystem::path relative_;
  ReadSet* read_;
  std::set<std::u16string> bookmarkNames_;
};

}  // namespace

std::u16string readFavoritesFolder(const std::filesystem::path& folder, xmlNode* parent,
                                   const std::u16string& relativePath, ReadSet* read) {
  FolderReader reader(folder, platform::pathFromUtf16(relativePath).relative_path(), read);
  return reader.read(parent, relativePath);
}

std::u16string readFavorites(std::string* documentText, ReadSet* read) {
  const std::filesystem::path favorites = platform::findSpecialFolder(platform::SpecialFolder::Favorites);
  if (favorites.empty()) return lastErrorText16();
  const std::string timestamp = exchange::formatTimestamp(std::time(nullptr));

  exchange::UniqueXmlDoc doc = exchange::newDocument();
  xmlNode* root = doc ? exchange::rootElement(doc.get()) : nullptr;
  if (!root) return outOfMemory();
  exchange::setAttribute(root, exchange::kTimestampAttribute, timestamp);
  exchange::setAttribute(root, exchange::kTypeAttribute, exchange::kFullType);

  ReadSet carried;
  std::u16string error = readFavoritesFolder(favorites, root, std::u16string(), &carried);
  if (!error.empty()) return error;
  // Every item gets a position, one sequence through all levels, no two
  // alike.
  exchange::prepareOrders(root);
  *documentText = exchange::documentToText(doc.get());
  if (read) *read = std::move(carried);
  return std::u16string();
}

}  // namespace favorites
