#include "plugin/favorites/writer.h"

#include <optional>
#include <vector>

#include "exchange/document.h"
#include "platform/codepage.h"
#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/last_error.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/item_nodes.h"
#include "plugin/favorites/last_error_text.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/shortcut.h"

namespace favorites {
namespace {

// The shell operation takes the path and two zero units in 260 units.
constexpr size_t kMaxShellDeletePath = 258;
// A directory path must leave room for an 8.3 file name within 260 units, as
// the system's directory creation demands. A longer one could not even be
// deleted again at the next apply.
constexpr size_t kMaxDirectoryPath = 247;

void appendError(std::u16string* collected, const std::u16string& error) {
  if (error.empty()) return;
  if (!collected->empty()) *collected += u"\r\n";
  *collected += error;
}

std::u16string writeItem(const std::filesystem::path& folder, xmlNode* item,
                         const std::u16string& relativePath) {
  if (exchange::isElement(item, exchange::kFolderElement)) {
    return writeFavoritesFolder(folder, item, relativePath);
  }
  if (exchange::isElement(item, exchange::kBookmarkElement)) {
    return writeInternetShortcut(folder, item, relativePath);
  }
  return std::u16string();  // separators and unknown elements make nothing
}

}  // namespace

bool shellDelete(const std::filesystem::path& path, platform::ShellDeleteTarget target) {
  if (platform::pathToUtf16(path).size() > kMaxShellDeletePath) {
    platform::setLastError(platform::kFilenameTooLong);
    return false;
  }
  return !platform::shellDeleteObjects(path, target).aborted;
}

std::u16string writeFavoritesFolder(const std::filesystem::path& parent, xmlNode* folder,
                                    const std::u16string& relativePath) {
  const std::u16string name =
      platform::utf8ToUtf16(exchange::childText(folder, exchange::kNameElement).value_or(""));
  if (!isSafeItemName(name)) {
    platform::setLastError(platform::kInvalidName);
    return lastErrorText16();
  }
  const std::filesystem::path directory = parent / platform::pathFromUtf16(name);
  if (platform::pathToUtf16(directory).size() > kMaxDirectoryPath) {
    platform::setLastError(platform::kFilenameTooLong);
    return lastErrorText16();
  }
  if (!platform::makeDirectory(directory)) return lastErrorText16();

  if (MenuOrderFolder* order = menuOrderFor(relativePath)) {
    const int32_t position = orderOf(folder);
    order->addEntry(name, std::u16string(), ItemKind::Folder, position >= 0 ? position : -1);
  }
  const std::u16string itemsPath = relativePath + u"\\" + name;
  for (xmlNode* children = folder->children; children; children = children->next) {
    if (!exchange::isElement(children, exchange::kChildrenElement)) continue;
    std::u16string collected;
    for (xmlNode* item = children->children; item; item = item->next) {
      appendError(&collected, writeItem(directory, item, itemsPath));
    }
    if (!collected.empty()) return collected;
  }
  return std::u16string();
}

std::u16string writeFavoritesItems(const std::filesystem::path& folder, xmlNode* root) {
  std::u16string collected;
  for (xmlNode* item = root ? root->children : nullptr; item; item = item->next) {
    appendError(&collected, writeItem(folder, item, std::u16string()));
  }
  return collected;
}

std::u16string writeFavorites(const std::string& documentText) {
  // Parsed before anything is deleted: a broken document must not cost the
  // user the Favorites.
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(documentText);
  xmlNode* root = doc ? exchange::rootElement(doc.get()) : nullptr;
  if (!root) return u"Could not parse XML";

  const std::filesystem::path favorites =
      platform::specialFolder(platform::SpecialFolder::Favorites);
  if (favorites.empty()) return lastErrorText16();
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::listDirectory(favorites, &entries)) return lastErrorText16();
  for (const platform::DirectoryEntry& entry : entries) {
    const std::string name = entry.name.string();
    if (!entry.directory || name == "." || name == "..") continue;
    // A link to a directory is removed itself; its target is left alone.
    if (!shellDelete(favorites / entry.name, platform::ShellDeleteTarget::Exact)) {
      return lastErrorText16();
    }
  }
  if (!shellDelete(favorites / "*.url")) return lastErrorText16();
  const std::filesystem::path icons = iconsFolder();
  if (!icons.empty() && !shellDelete(icons / "*.ico")) return lastErrorText16();

  return writeFavoritesItems(favorites, root);
}

}  // namespace favorites
