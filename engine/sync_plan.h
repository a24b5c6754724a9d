// What one synchronisation decides, apart from how it talks to the service
// and the disk: from the local list, the service's answer, the cache and the
// first-synchronisation method, what goes to the service, what becomes the
// cache and what the host must apply. runSynchronization downloads, parses
// and unites the lists, asks planSynchronization, and carries the plan out.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "engine/procedure.h"
#include "exchange/merge.h"
#include "exchange/xml_owners.h"

namespace corvex {

// The parsed lists of one attempt, each already united. The plan takes them
// over: the merge may take the cache apart, and the local document may
// become the new list.
struct SyncLists {
  exchange::UniqueXmlDoc local;
  bool localUnited = false;      // uniting changed the local list
  exchange::UniqueXmlDoc cache;  // none on a first synchronisation
  // prepareCacheMerge(local, cache), made before the service's list was
  // parsed; none lets the plan make it.
  std::optional<exchange::CacheMergeBase> cacheBase;
  exchange::UniqueXmlDoc server;  // none when the service was not asked
  bool serverUnited = false;      // uniting changed a "full" answer
};

enum class UploadKind {
  None,
  Put,      // "put"; conditional on the service's version when one is known
  Replace,  // "remove", then "put": the local list replaces the service's
};

struct SyncPlan {
  // Not empty: the run fails with this text, and nothing else happens.
  std::string failure;
  // The local list equals the service's: the run ends without upload and
  // without even the success line in the log. `list` is then the cache
  // brought up to a "full" answer, when the cache held another list or
  // another time stamp, so that the next download asks with the service's
  // current version and is answered "skip".
  bool unchanged = false;
  // The new agreed list: uploaded as it stands when `upload` says so, then
  // cached under `listTime` (or under the version the service's answer to
  // the upload names). None when nothing is to be uploaded or cached.
  exchange::UniqueXmlDoc list;
  UploadKind upload = UploadKind::None;
  // The time stamp text of the service's version the list was built from,
  // sent with a "put" so that the service refuses it once another computer
  // has stored a newer list. Empty: the put is unconditional.
  std::string basedOn;
  bool apply = false;  // the host applies `list`
  // lastSyncTime after the run: the cache's time stamp, unless the
  // service's answer to the upload names the version it stored.
  std::time_t listTime = 0;
};

// Decides the run from the lists; `now` stamps a list that replaces the
// service's. Writes the procedure's log lines (and the merge's) under
// appName; touches neither the network nor any file.
SyncPlan planSynchronization(SyncLists lists, FirstSyncMethod method, std::time_t now,
                             const std::string& appName);

}  // namespace corvex
