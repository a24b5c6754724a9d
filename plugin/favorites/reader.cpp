#include "plugin/favorites/reader.h"

#include <ctime>
#include <vector>

#include "exchange/document.h"
#include "exchange/ordering.h"
#include "exchange/timestamp.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/folders.h"
#include "platform/last_error.h"
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

}  // namespace

std::u16string readFavoritesFolder(const std::filesystem::path& folder, xmlNode* parent,
                                   const std::u16string& relativePath) {
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::listDirectory(folder, &entries)) return lastErrorText16();
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string bytes = entry.name.string();
    if (bytes == "." || bytes == "..") continue;
    if (entry.directory) {
      // A link may lead out of the Favorites folder or back into itself.
      if (entry.symbolicLink) continue;
      const std::u16string name = platform::utf8ToUtf16(bytes);
      xmlNode* item = exchange::addElement(parent, exchange::kFolderElement);
      if (!item) return outOfMemory();
      exchange::addTextElement(item, exchange::kNameElement, platform::utf16ToUtf8(name));
      if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
        const int32_t position = order->lookupPosition(name, ItemKind::Folder);
        if (position >= 0 || position == -5) setOrder(item, position);
      }
      xmlNode* children = exchange::addElement(item, exchange::kChildrenElement);
      if (!children) return outOfMemory();
      std::u16string error =
          readFavoritesFolder(folder / entry.name, children, relativePath + u"\\" + name);
      if (!error.empty()) return error;
    } else if (!entry.special && hasUrlExtension(bytes)) {
      std::u16string error = readInternetShortcut(folder / entry.name, parent, relativePath);
      if (!error.empty()) return error;
    }
  }
  return std::u16string();
}

std::u16string readFavorites(std::string* documentText) {
  const std::filesystem::path favorites =
      platform::specialFolder(platform::SpecialFolder::Favorites);
  if (favorites.empty()) return lastErrorText16();
  const std::string timestamp = exchange::formatTimestamp(std::time(nullptr));

  exchange::UniqueXmlDoc doc = exchange::newDocument();
  xmlNode* root = doc ? exchange::rootElement(doc.get()) : nullptr;
  if (!root) return outOfMemory();
  exchange::setAttribute(root, exchange::kTimestampAttribute, timestamp);
  exchange::setAttribute(root, exchange::kTypeAttribute, exchange::kFullType);

  std::u16string error = readFavoritesFolder(favorites, root, std::u16string());
  if (!error.empty()) return error;
  // Every item gets a position, one sequence through all levels, no two
  // alike.
  exchange::prepareOrders(root);
  *documentText = exchange::documentToText(doc.get());
  return std::u16string();
}

}  // namespace favorites
