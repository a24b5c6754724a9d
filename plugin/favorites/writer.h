// The Favorites writer: makes the Favorites folder match a result document.
//
// An apply never half-fails. The whole result (folders, shortcut files, icon
// files) is built first in a staging folder beside the Favorites folder, on
// the same file system; only then are the old entries replaced, by renames
// alone. A failure while building (a full disk, a denied file, a name that
// cannot be created) leaves the Favorites folder exactly as it was. Only what
// the reader read is replaced or removed (plugin/favorites/carried.h); every
// other entry stays where it is. The sequence and its crash states are in
// docs/favorites.md.
//
// Only the Favorites folder, its staging folder and the icons folder are
// ever changed: names that could reach outside their folder are refused.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <string>

#include "platform/shell_delete.h"
#include "plugin/favorites/carried.h"

namespace favorites {

// Applies the document text. Empty when the folder now matches it;
// otherwise one or more messages joined by "\r\n", and the folder is as it
// was. `read` is what the run's reader carried: the entries the apply may
// replace or remove. Without it, every entry a read would carry now counts.
std::u16string writeFavorites(const std::string& documentText, const ReadSet* read = nullptr);

// The staging folder of an apply: beside the Favorites folder, named after
// it with ".apply". It exists only while an apply runs, or after one was
// stopped; the next apply removes it first.
std::filesystem::path stagingFolder(const std::filesystem::path& favorites);

// A path as the user knows it: a path inside the staging folder of the apply
// in progress is shown where it will be once the apply is done. Messages
// and the system's path limits go by it.
std::u16string finalPathText(const std::filesystem::path& path);

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
