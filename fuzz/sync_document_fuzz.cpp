// libFuzzer target: a downloaded list as the engine takes it. The bytes lose
// their control characters, are parsed, compared with the local list, read
// for their type and time stamp, and merged against a fixed local list and
// cache, with and without the cache; then the whole decision of a run is
// made on them with and without the cache, by every first-synchronisation
// method. Every merge result and every planned list must serialise to a
// text that parses again, and a conditional put must name a version.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/procedure.h"
#include "engine/sync_plan.h"
#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/timestamp.h"
#include "fuzz/fuzz_prefix.h"

namespace {

constexpr char kLocal[] =
    "<?xml version=\"1.0\"?>\n<bookmarks>"
    "<folder order=\"0\"><name>News</name><children>"
    "<bookmark order=\"0\"><name>Daily</name><link>http://daily.example/</link></bookmark>"
    "<separator order=\"1\"/>"
    "<bookmark order=\"2\"><name>Weekly</name><link>http://weekly.example/</link>"
    "<iconfile>data:image/x-ico;base64,AAABAA</iconfile><icon_index>0</icon_index></bookmark>"
    "</children></folder>"
    "<bookmark order=\"1\"><name>Lark</name><link>http://lark.example/</link>"
    "<description>home</description><hotkey>0</hotkey></bookmark>"
    "<bookmark order=\"2\"><name>Local only</name><link>http://local.example/</link></bookmark>"
    "</bookmarks>";

constexpr char kCache[] =
    "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2005-03-07-09-05-00\">"
    "<folder order=\"0\"><name>News</name><children>"
    "<bookmark order=\"0\"><name>Daily</name><link>http://daily.example/</link></bookmark>"
    "</children></folder>"
    "<bookmark order=\"1\"><name>Lark</name><link>http://lark.example/</link>"
    "<description>home</description><hotkey>0</hotkey></bookmark>"
    "<bookmark order=\"2\"><name>Gone</name><link>http://gone.example/</link></bookmark>"
    "</bookmarks>";

void checkMerged(exchange::UniqueXmlNode merged, std::time_t stamp) {
  if (!merged) return;
  exchange::UniqueXmlDoc doc = exchange::documentWithRoot(std::move(merged));
  xmlNode* root = exchange::rootElement(doc.get());
  if (!root) std::abort();
  exchange::setAttribute(root, exchange::kTimestampAttribute, exchange::formatTimestamp(stamp));
  const std::string text = exchange::documentToText(doc.get());
  if (!exchange::parseDocumentText(text)) std::abort();
}

exchange::UniqueXmlDoc copyOf(const xmlDoc* doc) {
  return exchange::UniqueXmlDoc(xmlCopyDoc(const_cast<xmlDoc*>(doc), 1));
}

void checkPlan(const xmlDoc* local, const xmlDoc* cache, const xmlDoc* server, corvex::FirstSyncMethod method) {
  corvex::SyncLists lists;
  lists.local = copyOf(local);
  if (cache) lists.cache = copyOf(cache);
  lists.server = copyOf(server);
  const corvex::SyncPlan plan = corvex::planSynchronization(std::move(lists), method, 1700000000, "Fuzz");
  if (!plan.failure.empty() || plan.unchanged) {
    if (plan.list || plan.upload != corvex::UploadKind::None) std::abort();
    return;
  }
  if ((plan.upload != corvex::UploadKind::None || plan.apply) && !plan.list) std::abort();
  if (!plan.basedOn.empty() && plan.basedOn != exchange::formatTimestamp(plan.listTime)) std::abort();
  if (plan.list && !exchange::parseDocumentText(exchange::documentToText(plan.list.get()))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::fuzzPrefix();
  static const exchange::UniqueXmlDoc local = exchange::parseDocumentText(kLocal);
  static const exchange::UniqueXmlDoc cache = exchange::parseDocumentText(kCache);
  const xmlNode* localRoot = exchange::rootElement(local.get());
  const xmlNode* cacheRoot = exchange::rootElement(cache.get());

  exchange::UniqueXmlDoc server =
      exchange::parseDocumentText(corvex::withoutControlBytes(fuzzsupport::bytesOf(data, size)));
  const xmlNode* serverRoot = exchange::rootElement(server.get());
  if (!serverRoot) return 0;
  if (exchange::sameLists(localRoot, serverRoot)) return 0;
  exchange::attribute(serverRoot, exchange::kTypeAttribute);
  std::time_t stamp = 0;
  if (auto text = exchange::attribute(serverRoot, exchange::kTimestampAttribute)) {
    stamp = exchange::parseTimestamp(*text);
  }
  checkMerged(exchange::mergeLists(localRoot, serverRoot, cacheRoot, "Fuzz"), stamp);
  checkMerged(exchange::mergeLists(localRoot, serverRoot, nullptr, "Fuzz"), stamp);
  // The server's list as both local list and cache, as after a "take the
  // server's list" first run.
  checkMerged(exchange::mergeLists(serverRoot, serverRoot, serverRoot, "Fuzz"), stamp);
  checkPlan(local.get(), cache.get(), server.get(), corvex::FirstSyncMethod::Merge);
  checkPlan(local.get(), nullptr, server.get(), corvex::FirstSyncMethod::Merge);
  checkPlan(local.get(), nullptr, server.get(), corvex::FirstSyncMethod::TakeServer);
  return 0;
}
