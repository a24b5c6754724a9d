#include "engine/sync_plan.h"

#include <utility>

#include "engine/engine_log.h"
#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/timestamp.h"

namespace corvex {
namespace {

xmlNode* root(const exchange::UniqueXmlDoc& doc) { return exchange::rootElement(doc.get()); }

SyncPlan failed(std::string text) {
  SyncPlan plan;
  plan.failure = std::move(text);
  return plan;
}

// A "skip" answer: the service's list is the one the cache holds.
SyncPlan planUnchangedService(SyncLists lists, std::time_t listTime, const char* module) {
  logMessage(module, "Sychronization: server xml hasn't been changed because 'type'='skip'.\n");
  SyncPlan plan;
  plan.listTime = listTime;
  if (lists.cache && exchange::sameLists(root(lists.cache), root(lists.local))) return plan;
  plan.list = std::move(lists.local);
  plan.upload = UploadKind::Put;
  if (listTime != 0) plan.basedOn = exchange::formatTimestamp(listTime);
  return plan;
}

// The local list equals the service's. A "full" answer names the version
// both hold: when the cache holds another list or another time stamp it
// becomes the local list under that version. Left as it was, its time stamp
// would ask for the whole list again at every later run (after this
// computer's own upload, whose answer a service need not name), and a list
// that differs from the agreed one would be a wrong base for the next merge.
SyncPlan planAgreedLists(SyncLists lists, bool fullAnswer, std::time_t cacheTime) {
  SyncPlan plan;
  plan.unchanged = true;
  plan.listTime = cacheTime;
  if (!fullAnswer) return plan;
  const std::time_t serverTime = exchange::listTimeOf(lists.server.get(), cacheTime);
  const bool cacheCurrent = lists.cache && serverTime == cacheTime &&
                            exchange::sameLists(root(lists.cache), root(lists.local));
  plan.listTime = serverTime;
  if (!cacheCurrent) plan.list = std::move(lists.local);
  return plan;
}

exchange::UniqueXmlNode newList(SyncLists& lists, FirstSyncMethod method, std::time_t* listTime,
                                std::time_t now, const std::string& appName) {
  switch (method) {
    case FirstSyncMethod::Merge:
      if (lists.cache && lists.cacheBase) {
        return exchange::finishCacheMerge(std::move(*lists.cacheBase), root(lists.local),
                                          root(lists.server), root(lists.cache), appName);
      }
      return exchange::mergeLists(root(lists.local), root(lists.server), root(lists.cache),
                                  appName);
    case FirstSyncMethod::TakeServer:
      return exchange::deepCopy(root(lists.server));
    case FirstSyncMethod::TakeLocal: {
      exchange::UniqueXmlNode copy = exchange::deepCopy(root(lists.local));
      if (copy) {
        *listTime = now;
        exchange::setAttribute(copy.get(), exchange::kTimestampAttribute,
                               exchange::formatTimestamp(now));
      }
      return copy;
    }
  }
  return nullptr;
}

}  // namespace

SyncPlan planSynchronization(SyncLists lists, FirstSyncMethod method, std::time_t now,
                             const std::string& appName) {
  const char* module = appName.c_str();
  std::time_t listTime = exchange::listTimeOf(lists.cache.get(), 0);
  bool full = false;
  if (method != FirstSyncMethod::TakeLocal) {
    xmlNode* serverRoot = root(lists.server);
    const std::optional<std::string> type =
        exchange::attribute(serverRoot, exchange::kTypeAttribute);
    // The items of a "skip" answer are not the service's list (it sends
    // none): comparing them with the local list would take a local list
    // emptied since the last run for one that has not changed, and the
    // deletion would never be sent. A full answer that had to be united
    // goes back united, even when it then equals the local list.
    const bool skipAnswer = type && *type != exchange::kFullType;
    if (!skipAnswer && !lists.serverUnited && exchange::sameLists(root(lists.local), serverRoot)) {
      logMessage(module, "Sychronization has been finished - no changes detected.\n");
      return planAgreedLists(std::move(lists), type && *type == exchange::kFullType, listTime);
    }
    if (!type) {
      logMessage(module,
                 "Sychronization has been finished with error: Could not parse downloaded XML. "
                 "Bookmarks type "
                 "attribute does not found.\n");
      return failed(kNoTypeAttribute);
    }
    listTime = exchange::listTimeOf(lists.server.get(), listTime);
    full = *type == exchange::kFullType;
    if (!full) return planUnchangedService(std::move(lists), listTime, module);
    logMessage(module, "Sychronization: server xml has been changed because 'type'='full'.\n");
  }

  exchange::UniqueXmlNode newRoot = newList(lists, method, &listTime, now, appName);
  if (!newRoot) return failed(kEmptyMerge);
  SyncPlan plan;
  plan.list = exchange::documentWithRoot(std::move(newRoot));
  xmlNode* merged = root(plan.list);
  if (!merged) return failed(kEmptyMerge);
  plan.listTime = listTime;
  if (method == FirstSyncMethod::TakeLocal) {
    plan.upload = UploadKind::Replace;
  } else if (lists.serverUnited || (method == FirstSyncMethod::Merge &&
                                    !exchange::sameLists(merged, root(lists.server)))) {
    plan.upload = UploadKind::Put;
    if (listTime != 0) plan.basedOn = exchange::formatTimestamp(listTime);
  }
  plan.apply = method == FirstSyncMethod::TakeServer ||
               (method == FirstSyncMethod::Merge &&
                (lists.localUnited || !exchange::sameLists(merged, root(lists.local))));
  return plan;
}

}  // namespace corvex
