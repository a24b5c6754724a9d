// The Favorites reader: the user's Favorites folder as one exchange
// document. Every sub-folder becomes a "folder", every "*.url" file a
// "bookmark" (plugin/favorites/shortcut.h), in the order the directory
// listing gives; the stored menu order gives the "order" attributes, which
// are then made one document-wide sequence without duplicates.
//
// Only what a document can carry is read (plugin/favorites/carried.h): an
// entry left out is logged and stays out of the document, and out of the
// ReadSet that tells the writer what it may replace.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <string>

#include "plugin/favorites/carried.h"

namespace favorites {

// The document text of the whole Favorites folder, and (when `read` is
// given) the record of what it carries. On failure returns the error text
// and leaves *documentText unchanged: there is never a partial document. A
// missing Favorites folder is a failure; it is never created.
std::u16string readFavorites(std::string* documentText, ReadSet* read = nullptr);

// Appends the items of one folder to the parent element. relativePath is the
// folder's position below the Favorites folder: empty for the Favorites
// folder itself, the parent's followed by "\" and the name for a sub-folder.
// Symbolic links to directories are never followed: they are left out.
std::u16string readFavoritesFolder(const std::filesystem::path& folder, xmlNode* parent,
                                   const std::u16string& relativePath, ReadSet* read = nullptr);

}  // namespace favorites
