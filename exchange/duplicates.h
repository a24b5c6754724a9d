// Sibling items of one key in a bookmark list.
//
// Two items of a container share a key when they are of one kind (`bookmark`
// or `folder`) and have the same name text, byte for byte, as the list
// operations match them (exchange/list_ops.h). A list may hold such siblings
// when another client wrote it; a folder on disk cannot. The list operations
// would see only the first of them, so a list is united before it is merged
// or written.
#pragma once

#include <libxml/tree.h>

#include <string>

namespace exchange {

// Unites, in place and through all levels, the sibling items of one key in
// the container (a `bookmarks` root or a `children` element):
// - folders: the items of every later folder are moved, in their order, to
//   the end of the first folder's contents (its `children` element, which it
//   receives when it has none), and the later folder goes. The union then
//   goes on inside, so the first folder ends with every item of them all and,
//   for a bookmark they share, the version met first.
// - bookmarks: the first is kept; every later one goes, and a log line (module
//   `applicationName`) names it, its link and the path of its folder.
// The first item also keeps its own attributes (`order`) and other elements.
// Separators and other elements of the later folders go with them.
// Returns the number of items that went: 0 when the list had no such
// siblings, and is then unchanged.
int uniteDuplicates(xmlNode* container, const std::string& applicationName);

}  // namespace exchange
