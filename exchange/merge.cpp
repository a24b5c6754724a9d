#include "exchange/merge.h"

#include "exchange/list_ops.h"
#include "exchange/log_sink.h"
#include "exchange/numbering.h"

namespace exchange {
namespace {

// The cached list without the items that `current` still has: what was
// deleted on that side. Null when `current` is not a container.
UniqueXmlNode deletedFrom(const xmlNode* cache, const xmlNode* current) {
  UniqueXmlNode deleted = deepCopy(cache);
  if (!deleted || !removeListedItems(deleted.get(), current)) return nullptr;
  return deleted;
}

// Null when the local or the server list is not a container.
UniqueXmlNode mergeWithCache(CacheMergeBase base, const xmlNode* local, const xmlNode* server, xmlNode* cache) {
  // An unchanged local list lets the server's versions of shared items win;
  // any local change makes every local version win.
  const xmlNode* first = base.localUnchanged ? server : local;
  const xmlNode* other = base.localUnchanged ? local : server;

  // A cache that is not a container only loses the deletions, not items.
  // The cache is ours to change: what is left of it is the server's
  // deletions.
  const xmlNode* deletedOnServer = removeListedItems(cache, server) ? cache : nullptr;

  // The merged list is the only one changed from here on; it is a copy of its
  // own, so the removals work on it in place rather than on further copies.
  UniqueXmlNode merged = deepCopy(first);
  if (!merged || !addMissingItems(merged.get(), other)) return nullptr;
  if (base.deletedLocally && !removeListedItems(merged.get(), base.deletedLocally.get())) return nullptr;
  if (deletedOnServer && !removeListedItems(merged.get(), deletedOnServer)) return nullptr;
  return merged;
}

UniqueXmlNode finished(UniqueXmlNode result, const std::string& applicationName) {
  if (result) {
    orderContainer(result.get());
    renumberOrders(result.get(), 0);
  }
  writeLog(applicationName, "Merging server and local bookmarks has been finished.\n");
  return result;
}

}  // namespace

UniqueXmlNode deepCopy(const xmlNode* node) {
  if (!node) return nullptr;
  return UniqueXmlNode(xmlCopyNode(const_cast<xmlNode*>(node), 1));
}

CacheMergeBase prepareCacheMerge(const xmlNode* local, const xmlNode* cache) {
  CacheMergeBase base;
  base.localUnchanged = listsEqual(cache, local);
  base.deletedLocally = deletedFrom(cache, local);
  return base;
}

UniqueXmlNode finishCacheMerge(CacheMergeBase base, const xmlNode* local, const xmlNode* server, xmlNode* cache,
                               const std::string& applicationName) {
  writeLog(applicationName, "Merging server and local bookmarks has been started.\n");
  UniqueXmlNode result;
  if (local && server && cache) result = mergeWithCache(std::move(base), local, server, cache);
  return finished(std::move(result), applicationName);
}

UniqueXmlNode mergeLists(const xmlNode* local, const xmlNode* server, const xmlNode* cache,
                         const std::string& applicationName) {
  if (local && server && cache) {
    UniqueXmlNode scratch = deepCopy(cache);
    if (scratch) return finishCacheMerge(prepareCacheMerge(local, cache), local, server, scratch.get(), applicationName);
  }
  writeLog(applicationName, "Merging server and local bookmarks has been started.\n");
  UniqueXmlNode result;
  if (!local || !server) {
    // The caller guarantees both; without them there is nothing to merge.
  } else if (!cache) {
    result = deepCopy(server);
    if (result && !addMissingItems(result.get(), local)) result.reset();
  }
  return finished(std::move(result), applicationName);
}

}  // namespace exchange
