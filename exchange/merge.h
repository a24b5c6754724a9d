// The merge of the server's list with the local list against the cache, the
// server state agreed at the end of the previous synchronisation.
#pragma once

#include <libxml/tree.h>

#include <string>

#include "exchange/xml_owners.h"

namespace exchange {

// Merges the local and the server list (both present) using the cache (null
// before the first synchronisation):
// - without a cache: the server list with the local list's missing items
//   added; nothing is deleted;
// - with a cache: the base is the server list when the local list equals the
//   cache, else the local list; the other list's missing items are added, then
//   every cached item missing on either side (deleted there) is removed.
// The result is ordered and renumbered. Its root attributes are those of the
// list it was copied from. The inputs are not changed. Writes a line to the
// log at the start and at the end. Returns a new root element owned by the
// caller, or null when a container check fails (a list whose root or folder
// contents are misnamed).
UniqueXmlNode mergeLists(const xmlNode* local, const xmlNode* server, const xmlNode* cache,
                         const std::string& applicationName);

// A deep copy of a node and all its descendants, belonging to no document;
// null for null (or when memory runs out).
UniqueXmlNode deepCopy(const xmlNode* node);

}  // namespace exchange
