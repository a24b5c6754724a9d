// The decisions of a synchronisation, from lists written in the short tree
// notation: what goes to the service, what is cached, what the host applies.
#include "engine/sync_plan.h"

#include <gtest/gtest.h>

#include "exchange/document.h"
#include "exchange/testing/notation.h"
#include "exchange/timestamp.h"

namespace corvex {
namespace {

using exchange::testing::describeList;
using exchange::testing::parseList;

constexpr char kCacheStamp[] = "2005-03-07-09-05-00";
constexpr char kServerStamp[] = "2006-01-02-03-04-05";
constexpr std::time_t kNow = 1700000000;

// A document of the notation's items; `type` and `stamp` become root
// attributes when not null.
exchange::UniqueXmlDoc list(const char* notation, const char* type = nullptr,
                            const char* stamp = nullptr) {
  if (!notation) return nullptr;
  exchange::UniqueXmlNode top = parseList(notation);
  EXPECT_TRUE(top) << notation;
  if (stamp) exchange::setAttribute(top.get(), exchange::kTimestampAttribute, stamp);
  if (type) exchange::setAttribute(top.get(), exchange::kTypeAttribute, type);
  return exchange::documentWithRoot(std::move(top));
}

struct Row {
  const char* situation;
  FirstSyncMethod method;
  const char* local;
  const char* cache;   // null: a first synchronisation
  const char* server;  // null: the service is not asked
  const char* type;
  const char* serverStamp;
  // What the plan says.
  UploadKind upload;
  const char* basedOn;
  const char* newList;  // the list uploaded and cached; null: none
  bool apply;
};

std::string describePlan(const SyncPlan& plan) {
  return plan.list ? describeList(exchange::rootElement(plan.list.get())) : "<none>";
}

TEST(SyncPlan, OutcomeOfEverySituation) {
  const FirstSyncMethod kMerge = FirstSyncMethod::Merge;
  const Row rows[] = {
      {"full, merged differs from the service only", kMerge, "a#0 b#1", "a#0", "a#0", "full",
       kServerStamp, UploadKind::Put, kServerStamp, "a#0 b#1", false},
      {"full, merged differs from the local list only", kMerge, "a#0", "a#0", "a#0 b#1", "full",
       kServerStamp, UploadKind::None, "", "a#0 b#1", true},
      {"full, merged differs from both", kMerge, "a#0 b#1", "a#0", "a#0 c#1", "full", kServerStamp,
       UploadKind::Put, kServerStamp, "a#0 b#1 c#2", true},
      {"full, deletions from the cache both ways", kMerge, "a#0 b#1", "a#0 b#1 c#2", "a#0 c#1",
       "full", kServerStamp, UploadKind::Put, kServerStamp, "a#0", true},
      {"full, first merge deletes nothing", kMerge, "a#0", nullptr, "b#0", "full", kServerStamp,
       UploadKind::Put, kServerStamp, "b#1 a#0", true},
      {"full, answer without a stamp: the cache's stamp is the version", kMerge, "a#0 b#1", "a#0",
       "a#0", "full", nullptr, UploadKind::Put, kCacheStamp, "a#0 b#1", false},
      {"full, no stamp known at all: the put is unconditional", kMerge, "a#0", nullptr, "b#0",
       "full", nullptr, UploadKind::Put, "", "b#1 a#0", true},
      {"full, take the service's list", FirstSyncMethod::TakeServer, "a", nullptr, "b", "full",
       kServerStamp, UploadKind::None, "", "b", true},
      {"take the local list, without asking", FirstSyncMethod::TakeLocal, "a", nullptr, nullptr,
       nullptr, nullptr, UploadKind::Replace, "", "a", false},
      {"skip, cache equals local", kMerge, "a", "a", "", "skip", kServerStamp, UploadKind::None, "",
       nullptr, false},
      {"skip, cache differs: the input goes up", kMerge, "a b", "a", "", "skip", kServerStamp,
       UploadKind::Put, kServerStamp, "a b", false},
      {"skip without a stamp keeps the cache's", kMerge, "a b", "a", "", "skip", nullptr,
       UploadKind::Put, kCacheStamp, "a b", false},
      {"skip on a first synchronisation", FirstSyncMethod::TakeServer, "a", nullptr, "", "skip",
       nullptr, UploadKind::Put, "", "a", false},
      {"skip, the local list emptied since: the deletion goes up", kMerge, "", "a", "", "skip",
       kServerStamp, UploadKind::Put, kServerStamp, "", false},
      {"skip whose items happen to equal the local list", kMerge, "a b", "a", "a b", "skip",
       kServerStamp, UploadKind::Put, kServerStamp, "a b", false},
      {"any other type means skip", kMerge, "a b", "a", "x", "Full", kServerStamp, UploadKind::Put,
       kServerStamp, "a b", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.situation);
    SyncLists lists;
    lists.local = list(row.local);
    lists.cache = list(row.cache, nullptr, kCacheStamp);
    lists.server = list(row.server, row.type, row.serverStamp);
    const SyncPlan plan = planSynchronization(std::move(lists), row.method, kNow, "Explorer");
    EXPECT_EQ(plan.failure, "");
    EXPECT_FALSE(plan.unchanged);
    EXPECT_EQ(plan.upload, row.upload);
    EXPECT_EQ(plan.basedOn, row.basedOn);
    EXPECT_EQ(describePlan(plan), row.newList ? row.newList : "<none>");
    EXPECT_EQ(plan.apply, row.apply);
  }
}

// The local list equals the service's: nothing goes up and nothing is
// applied, but the cache follows a "full" answer, so that the next download
// names the service's version (and is answered "skip").
TEST(SyncPlan, EqualListsBringTheCacheUpToAFullAnswer) {
  struct Row {
    const char* situation;
    const char* cache;  // null: none
    const char* cacheStamp;
    const char* type;
    const char* serverStamp;
    bool cached;  // the plan carries the local list to cache
    const char* listTime;
  };
  const Row rows[] = {
      {"no cache yet", nullptr, nullptr, "full", kServerStamp, true, kServerStamp},
      {"cache current", "a b", kServerStamp, "full", kServerStamp, false, kServerStamp},
      {"cache under an older stamp (after an own upload)", "a b", kCacheStamp, "full", kServerStamp,
       true, kServerStamp},
      {"cache of another list under the same stamp", "a", kServerStamp, "full", kServerStamp, true,
       kServerStamp},
      {"cache without a stamp", "a b", nullptr, "full", kServerStamp, true, kServerStamp},
      {"full without a stamp, cache equal", "a b", kCacheStamp, "full", nullptr, false,
       kCacheStamp},
      {"full without a stamp, cache differs", "a", kCacheStamp, "full", nullptr, true, kCacheStamp},
      {"no type: the cache is left alone", "a", kCacheStamp, nullptr, kServerStamp, false,
       kCacheStamp},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.situation);
    SyncLists lists;
    lists.local = list("a b");
    lists.cache = list(row.cache, nullptr, row.cacheStamp);
    lists.server = list("a b", row.type, row.serverStamp);
    const SyncPlan plan =
        planSynchronization(std::move(lists), FirstSyncMethod::Merge, kNow, "Explorer");
    EXPECT_EQ(plan.failure, "");
    EXPECT_TRUE(plan.unchanged);
    EXPECT_EQ(plan.upload, UploadKind::None);
    EXPECT_FALSE(plan.apply);
    EXPECT_EQ(describePlan(plan), row.cached ? "a b" : "<none>");
    EXPECT_EQ(plan.listTime, exchange::parseTimestamp(row.listTime));
  }
}

TEST(SyncPlan, ListTimeIsTheVersionAgreedOn) {
  struct Case {
    const char* cache;
    const char* type;
    const char* serverStamp;
    FirstSyncMethod method;
    std::time_t expected;
  };
  const Case cases[] = {
      {"a", "full", kServerStamp, FirstSyncMethod::Merge, exchange::parseTimestamp(kServerStamp)},
      {"a", "skip", nullptr, FirstSyncMethod::Merge, exchange::parseTimestamp(kCacheStamp)},
      {nullptr, "full", nullptr, FirstSyncMethod::Merge, 0},
      {nullptr, nullptr, nullptr, FirstSyncMethod::TakeLocal, kNow},
  };
  for (const Case& c : cases) {
    SyncLists lists;
    lists.local = list("a b");
    lists.cache = list(c.cache, nullptr, kCacheStamp);
    if (c.method != FirstSyncMethod::TakeLocal) lists.server = list("a", c.type, c.serverStamp);
    EXPECT_EQ(planSynchronization(std::move(lists), c.method, kNow, "Explorer").listTime,
              c.expected);
  }
}

TEST(SyncPlan, EndsEarlyOrFails) {
  // Equal lists end the run before the type is looked at.
  SyncLists equal;
  equal.local = list("a b");
  equal.server = list("a b");
  SyncPlan plan = planSynchronization(std::move(equal), FirstSyncMethod::Merge, kNow, "Explorer");
  EXPECT_TRUE(plan.unchanged);
  EXPECT_EQ(plan.failure, "");
  EXPECT_FALSE(plan.list);

  SyncLists untyped;
  untyped.local = list("a");
  untyped.server = list("b");
  plan = planSynchronization(std::move(untyped), FirstSyncMethod::Merge, kNow, "Explorer");
  EXPECT_EQ(plan.failure, kNoTypeAttribute);
  EXPECT_EQ(plan.upload, UploadKind::None);
}

TEST(SyncPlan, UnitedServiceListGoesBackEvenWhenEqual) {
  SyncLists lists;
  lists.local = list("a#0");
  lists.cache = list("a#0", nullptr, kCacheStamp);
  lists.server = list("a#0", "full", kServerStamp);
  lists.serverUnited = true;
  const SyncPlan plan =
      planSynchronization(std::move(lists), FirstSyncMethod::Merge, kNow, "Explorer");
  EXPECT_EQ(plan.upload, UploadKind::Put);
  EXPECT_EQ(plan.basedOn, kServerStamp);
  EXPECT_FALSE(plan.apply);
}

}  // namespace
}  // namespace corvex
