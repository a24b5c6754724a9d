// The Favorites writer: makes the Favorites folder match a result document
// by clearing and rebuilding it. Deleted first: every sub-folder, every
// "*.url" file directly in the Favorites folder and every "*.ico" file of the
// icons folder; other files of the Favorites folder stay. Then one directory
// per "folder" and one shortcut file per "bookmark", in document order, each
// recorded in its folder's menu order (stored by flushMenuOrders).
//
// Only the Favorites folder and the icons folder are ever changed: names
// that could reach outside their folder are refused item by item.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <string>

#include "platform/shell_delete.h"

namespace favorites {

// Applies the document text. Empty when the folder now matches it;
// otherwise one or more messages joined by "\r\n". A text that does not
// parse is refused with "Could not parse XML" before anything is deleted.
std::u16string writeFavorites(const std::string& documentText);

// Writes the items of the root into the folder, collecting the errors.
std::u16string writeFavoritesItems(const std::filesystem::path& folder, xmlNode* root);

// Creates the folder element's directory inside parent and writes its items.
std::u16string writeFavoritesFolder(const std::filesystem::path& parent, xmlNode* folder,
                                    const std::u16string& relativePath);

// The shell's delete of a path, with a pattern allowed in its last
// component. Only an aborted operation is a failure (a pattern that matches
// nothing is none). A path longer than the operation takes (258 UTF-16
// units) is refused with kFilenameTooLong. The last error tells why.
bool shellDelete(const std::filesystem::path& path,
                 platform::ShellDeleteTarget target = platform::ShellDeleteTarget::Pattern);

}  // namespace favorites
