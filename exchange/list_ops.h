// Operations on bookmark lists: finding, adding, removing, counting and
// comparing items.
//
// A container is the root `bookmarks` or a folder's `children`; its items are
// its element children named `bookmark` or `folder`. An item's key is its kind
// and the text of its first `name` child, compared byte for byte; an item
// without a `name` child has no name, and no name equals only no name.
// Separators and other elements are never matched, added or removed.
//
// The operations look items up through an index built per call, so their cost
// grows as n log n in the size of a container; their results are those of
// scanning the container in document order, first match winning.
#pragma once

#include <libxml/tree.h>

#include <optional>
#include <string>

namespace exchange {

// The name text of an item (its first `name` child), or nothing.
std::optional<std::string> itemName(const xmlNode* item);

// True for an element named "bookmarks" or "children".
bool isContainer(const xmlNode* node);

// The first element child of the container named `kind` whose name equals
// `name`, in document order; null when there is none.
xmlNode* findItem(const xmlNode* container, const char* kind,
                  const std::optional<std::string>& name);

// Appends to the target a deep copy of every item of the source that the
// target lacks, through all levels; items the target has keep the target's
// version entirely. False when either argument is not a container (nothing is
// changed then) or when memory runs out.
//
// Only the two arguments are checked, never the folders among their items: a
// folder without a `children` element has no contents, whatever else it holds
// (another client may send a folder with a `description` and no `children`).
// When the target's folder is such a folder and the source's has a `children`
// element, the target's folder receives a copy of it, so that the source's
// items are not dropped.
bool addMissingItems(xmlNode* target, const xmlNode* source);

// Removes from the target, through all levels, the first item matching each
// item of the listed container; a folder of the target is removed when the
// removal leaves its `children` without an element child. Folders of which
// either side has no `children` are left alone. False when either argument is
// not a container; nothing is changed then.
bool removeListedItems(xmlNode* target, const xmlNode* listed);

// Bookmarks plus folders, through all levels (a folder's first `children`);
// 0 for null.
int countItems(const xmlNode* container);

// The `order` attributes as text: equal when both are absent, when one is
// absent and the other is empty, or when both are present with the same bytes.
bool ordersEqual(const xmlNode* a, const xmlNode* b);

// Two bookmarks paired by name: equal `order`, `link`, `description`,
// `iconfile` (line breaks ignored when both have one), `icon_index` and
// `hotkey`; a missing element reads as the empty text.
bool bookmarksEqual(const xmlNode* a, const xmlNode* b);

// Equal in content: the containers' own `order`, the number of element
// children, and every item of `a` found in `b` with equal fields and, for
// folders, equal contents. The root's `timestamp` and `type` and a folder's own
// `order` are not compared.
bool listsEqual(const xmlNode* a, const xmlNode* b);

// False when either list is absent, else listsEqual(b, a).
bool sameLists(const xmlNode* a, const xmlNode* b);

}  // namespace exchange
