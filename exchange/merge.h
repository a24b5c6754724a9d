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
// caller, or null when the local or the server list is not a container (its
// root is neither `bookmarks` nor `children`). A cache that is not one only
// tells no deletions.
UniqueXmlNode mergeLists(const xmlNode* local, const xmlNode* server, const xmlNode* cache,
                         const std::string& applicationName);

// mergeLists with a cache, in two steps, for a caller that holds the cache
// before the server's list arrives and has no further use for it: what the
// local side deleted is worked out first, and what the server side deleted
// is then worked out in the cache itself, so that the merge never holds a
// whole copy of the cache beside the three lists. The result is the same as
// mergeLists(local, server, cache).
struct CacheMergeBase {
  bool localUnchanged = false;   // the local list equals the cache
  UniqueXmlNode deletedLocally;  // the cached items local no longer has; null when either is no container
};
// The first step: local and cache present. Changes neither.
CacheMergeBase prepareCacheMerge(const xmlNode* local, const xmlNode* cache);
// The second step, with the same local list and the server list: `cache` is
// taken apart (left holding what the server side deleted).
UniqueXmlNode finishCacheMerge(CacheMergeBase base, const xmlNode* local, const xmlNode* server, xmlNode* cache,
                               const std::string& applicationName);

// A deep copy of a node and all its descendants, belonging to no document;
// null for null (or when memory runs out).
UniqueXmlNode deepCopy(const xmlNode* node);

}  // namespace exchange
