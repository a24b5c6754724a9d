#include "exchange/merge.h"

#include "exchange/list_ops.h"
#include "exchange/log_sink.h"
#include "exchange/numbering.h"

namespace exchange {
namespace {

// The cached list without the items that `current` still has: what was
// deleted on that side. Null when a container check fails.
UniqueXmlNode deletedFrom(const xmlNode* cache, const xmlNode* current) {
  UniqueXmlNode deleted = deepCopy(cache);
  if (!deleted || !removeListedItems(deleted.get(), current)) return nullptr;
  return deleted;
}

UniqueXmlNode mergeWithCache(const xmlNode* local, const xmlNode* server, const xmlNode* cache) {
  // An unchanged local list lets the server's versions of shared items win;
  // any local change makes every local version win.
  const bool localUnchanged = listsEqual(cache, local);
  const xmlNode* base = localUnchanged ? server : local;
  const xmlNode* other = localUnchanged ? local : server;

  // A failing check on the cache side only loses the deletions, not items.
  UniqueXmlNode deletedLocally = deletedFrom(cache, local);
  UniqueXmlNode deletedOnServer = deletedFrom(cache, server);

  // The merged list is the only one changed from here on; it is a copy of its
  // own, so the removals work on it in place rather than on further copies.
  UniqueXmlNode merged = deepCopy(base);
  if (!merged || !addMissingItems(merged.get(), other)) return nullptr;
  if (deletedLocally && !removeListedItems(merged.get(), deletedLocally.get())) return nullptr;
  if (deletedOnServer && !removeListedItems(merged.get(), deletedOnServer.get())) return nullptr;
  return merged;
}

}  // namespace

UniqueXmlNode deepCopy(const xmlNode* node) {
  if (!node) return nullptr;
  return UniqueXmlNode(xmlCopyNode(const_cast<xmlNode*>(node), 1));
}

UniqueXmlNode mergeLists(const xmlNode* local, const xmlNode* server, const xmlNode* cache,
                         const std::string& applicationName) {
  writeLog(applicationName, "Merging server and local bookmarks has been started.\n");
  UniqueXmlNode result;
  if (!local || !server) {
    // The caller guarantees both; without them there is nothing to merge.
  } else if (!cache) {
    result = deepCopy(server);
    if (result && !addMissingItems(result.get(), local)) result.reset();
  } else {
    result = mergeWithCache(local, server, cache);
  }
  if (result) {
    orderContainer(result.get());
    renumberOrders(result.get(), 0);
  }
  writeLog(applicationName, "Merging server and local bookmarks has been finished.\n");
  return result;
}

}  // namespace exchange
