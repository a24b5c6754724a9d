// The ordering a document receives before it leaves the plug-in: every item
// gets a position number, the numbers run as one sequence through all levels,
// and no two items share one. The Favorites reader hands over numbers taken
// from the browser's stored menu order, the marker -5 for a container sorted
// by name, or none.
#pragma once

#include <libxml/tree.h>

#include <string>

#include "exchange/xml_owners.h"

namespace exchange {

// The number that marks a container whose items the browser sorts by name.
inline constexpr int kSortByNameMark = -5;

// Through all levels: a container in which any element carries the mark -5
// has all its items renumbered 0 ... n-1 by name (case-insensitive in the ANSI
// code page, folders and bookmarks mixed); other containers are unchanged.
void sortNamedContainers(xmlNode* container);

// Through all levels: items without a position (absent or negative) are
// numbered after the highest position of their container, folders first, each
// group by name.
void placeUnorderedItems(xmlNode* container);

// Every number shared by several items (counted over all elements of the
// tree) is made unique: the items holding it, taken in a pre-order walk, each
// receive a fresh number above all others, except the last one, which keeps it.
void resolveDuplicateOrders(xmlNode* root);

// sortNamedContainers, placeUnorderedItems, renumberOrders(root, 0) and
// resolveDuplicateOrders, in that order.
void prepareOrders(xmlNode* root);

// A copy of the local list with the cached list's missing items added,
// ordered and renumbered; null when the adding fails. A null cache only
// orders and renumbers the copy. The inputs are not changed. Sibling items of
// one key are united in both copies first (exchange/duplicates.h, log lines
// under `applicationName`), so that every item of either list reaches the
// result once.
UniqueXmlNode unionWithCache(const xmlNode* local, const xmlNode* cache,
                             const std::string& applicationName = std::string());

}  // namespace exchange
