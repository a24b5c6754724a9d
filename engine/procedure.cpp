#include "engine/procedure.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "engine/list_limit.h"
#include "engine/sync_plan.h"
#include "engine/synchronize.h"
#include "engine/transport.h"
#include "engine/validation.h"
#include "exchange/data_folder.h"
#include "exchange/document.h"
#include "exchange/duplicates.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/timestamp.h"
#include "platform/files.h"

namespace corvex {
namespace {

std::string trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  return text.substr(begin, end - begin);
}

// The number after "key =" at the key's first occurrence, or 0.
long keyValue(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return 0;
  at += key.size();
  while (at < text.size() && text[at] == ' ') ++at;
  if (at >= text.size() || text[at] != '=') return 0;
  const size_t lineEnd = text.find('\n', at + 1);
  const std::string value =
      trimmed(text.substr(at + 1, lineEnd == std::string::npos ? std::string::npos : lineEnd - at - 1));
  return std::strtol(value.c_str(), nullptr, 10);
}

}  // namespace

std::string withoutControlBytes(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x20) out += c;
  }
  return out;
}

std::filesystem::path methodFilePath() {
  const std::filesystem::path library = platform::modulePath(reinterpret_cast<const void*>(&methodFilePath));
  return library.parent_path() / kMethodFileName;
}

FirstSyncMethod parseFirstSyncMethod(const std::string& text) {
  static const char* const kKeys[] = {"firstSyncMethod1", "firstSyncMethod2", "firstSyncMethod3"};
  for (int i = 0; i < 3; ++i) {
    if (keyValue(text, kKeys[i]) != 0) return static_cast<FirstSyncMethod>(i);
  }
  return FirstSyncMethod::Merge;
}

FirstSyncMethod readFirstSyncMethod(const ClientApp& app) {
  const std::filesystem::path path = methodFilePath();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    logMessage(app.appName.c_str(), "Error while opening file: %s\n", path.string().c_str());
    return FirstSyncMethod::Merge;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad() || (in.fail() && !text.str().empty())) {
    logMessage(app.appName.c_str(), "Error while reading file: %s\n", path.string().c_str());
    return FirstSyncMethod::Merge;
  }
  return parseFirstSyncMethod(text.str());
}

namespace {

// A cache that cannot be written does not fail the run: the lists are
// agreed already. The next run then merges against the older cache (or as a
// first run), which loses nothing but may bring back an item deleted in
// between; the log says why.
void saveCache(const char* module, xmlDoc* doc, const std::filesystem::path& path) {
  const std::string error = path.empty() ? std::string("no data folder") : exchange::saveDocumentFile(doc, path);
  if (!error.empty()) {
    logMessage(module, "Sychronization: the local cache could not be saved (%s).\n", error.c_str());
  }
}

}  // namespace

std::filesystem::path cacheFilePath(const ClientApp& app) { return exchange::cacheFilePath(app.appName); }

namespace {

// The lists of one attempt up to the service's answer. A failure text when
// the attempt ends the run.
struct Attempt {
  SyncLists lists;
  std::string failure;
};

// Parses the host's list and the cache for one attempt. Each attempt reads
// them afresh: the merge takes the cache apart, and the local list may
// become the uploaded one.
exchange::UniqueXmlDoc parseLocalList(const std::string& data, bool* united, const std::string& appName) {
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(data);
  xmlNode* top = exchange::rootElement(doc.get());
  if (!top) return nullptr;
  // Every list is united right after parsing: the merge and the comparisons
  // see only the first of sibling items of one name.
  *united = exchange::uniteDuplicates(top, appName) > 0;
  return doc;
}

struct CacheRead {
  exchange::UniqueXmlDoc doc;
  bool damaged = false;  // a file is there but does not parse
};

CacheRead readCache(const std::filesystem::path& path, const std::string& appName) {
  CacheRead cache;
  if (path.empty() || !platform::fileExists(path)) return cache;
  cache.doc = exchange::parseDocumentFile(path);
  logMessage(appName.c_str(), "Sychronization: fetching locally cached bookmarks from %s has been completed.\n",
             path.string().c_str());
  cache.damaged = !cache.doc;
  if (xmlNode* top = exchange::rootElement(cache.doc.get())) exchange::uniteDuplicates(top, appName);
  return cache;
}

// Downloads and parses the service's list into `attempt`.
void fetchServerList(ClientApp& app, Attempt* attempt) {
  const char* module = app.appName.c_str();
  std::string downloaded;
  if (std::string error = downloadList(app, &downloaded); !error.empty()) {
    logMessage(module, "Sychronization has been finished with error while downloading: %s.\n", error.c_str());
    attempt->failure = std::move(error);
    return;
  }
  SyncLists& lists = attempt->lists;
  // What the cache tells of the local side is taken before the server's
  // tree is built: the merge then never holds four whole lists at once.
  if (xmlNode* cached = exchange::rootElement(lists.cache.get())) {
    lists.cacheBase = exchange::prepareCacheMerge(exchange::rootElement(lists.local.get()), cached);
  }
  lists.server = exchange::parseDocumentText(withoutControlBytes(downloaded));
  downloaded = std::string();
  xmlNode* serverRoot = exchange::rootElement(lists.server.get());
  if (!serverRoot) {
    logMessage(module, "Sychronization has been finished with error: Could not parse downloaded XML.\n");
    attempt->failure = kBadDownloadedXml;
    return;
  }
  const bool full = exchange::attribute(serverRoot, exchange::kTypeAttribute) == exchange::kFullType;
  lists.serverUnited = exchange::uniteDuplicates(serverRoot, app.appName) > 0 && full;
}

// Carries out the upload of a plan. kUploadConflict when the service
// refused a conditional put. When the service's answer names the version it
// stored, the list is cached under that version: the next download then
// names what the service holds and is answered "skip".
std::string uploadPlan(ClientApp& app, SyncPlan* plan) {
  if (plan->upload == UploadKind::None) return "";
  const RequestKind kind = plan->upload == UploadKind::Replace ? RequestKind::Remove : RequestKind::Put;
  std::time_t storedTime = 0;
  std::string error =
      uploadList(app, exchange::documentToText(plan->list.get()), kind, plan->basedOn, &storedTime);
  if (error.empty() && storedTime != 0) plan->listTime = storedTime;
  return error;
}

// Stamps the plan's list with its time and writes it as the cache.
void cachePlanList(const char* module, const SyncPlan& plan, const std::filesystem::path& path) {
  exchange::setAttribute(exchange::rootElement(plan.list.get()), exchange::kTimestampAttribute,
                         exchange::formatTimestamp(plan.listTime));
  saveCache(module, plan.list.get(), path);
}

}  // namespace

std::string runSynchronization(ClientApp& app, std::string* data) {
  const char* module = app.appName.c_str();
  logMessage(module, "Sychronization has been started. Input data for sychronization from browser is: %s.\n",
             data->c_str());
  if (const std::string message = validateSettings(app); !message.empty()) {
    logMessage(module, "Sychronization has been finished with invalid application settings error: %s.\n",
               message.c_str());
    return message;
  }
  if (app.enabled == 0) {
    logMessage(module, "Sychronization has been finished with error: Synchronization isn't enabled.\n");
    return kNotEnabled;
  }
  if (std::string refused = checkListLength(app, *data, ListOrigin::Local); !refused.empty()) {
    logMessage(module, "Sychronization has been finished with error: %s.\n", refused.c_str());
    return refused;
  }

  std::filesystem::path cachePath;
  std::optional<FirstSyncMethod> method;
  for (int attempt = 1;; ++attempt) {
    Attempt current;
    current.lists.local = parseLocalList(*data, &current.lists.localUnited, app.appName);
    if (!current.lists.local) {
      logMessage(module,
                 "Sychronization has been finished with error: Could not parse XML with bookmarks given from "
                 "extension.\n");
      return kBadInputXml;
    }
    if (cachePath.empty()) cachePath = cacheFilePath(app);
    CacheRead cache = readCache(cachePath, app.appName);
    current.lists.cache = std::move(cache.doc);
    if (!method) {
      // A cache file that is there but does not parse was damaged by
      // something else: this is not a first synchronisation, and replacing
      // a whole list by the other (the first-synchronisation methods) would
      // lose what the other side added since. The lists are merged without
      // a cache instead, which deletes nothing.
      if (cache.damaged) {
        logMessage(module,
                   "Sychronization: the local cache %s could not be read; the lists are merged without it, so "
                   "nothing is deleted in this run.\n",
                   cachePath.string().c_str());
      }
      method = current.lists.cache || cache.damaged ? FirstSyncMethod::Merge : readFirstSyncMethod(app);
    }
    app.lastSyncTime = exchange::listTimeOf(current.lists.cache.get(), 0);
    if (*method != FirstSyncMethod::TakeLocal) {
      fetchServerList(app, &current);
      if (!current.failure.empty()) return current.failure;
    }

    SyncPlan plan = planSynchronization(std::move(current.lists), *method, std::time(nullptr), app.appName);
    if (!plan.failure.empty()) return plan.failure;
    app.lastSyncTime = plan.listTime;
    if (plan.unchanged) {
      if (plan.list) cachePlanList(module, plan, cachePath);
      data->clear();
      return "";
    }
    if (std::string error = uploadPlan(app, &plan); error == kUploadConflict) {
      if (attempt < kMaxSyncAttempts) {
        logMessage(module,
                   "Sychronization: another computer stored its list while this one merged; the list is "
                   "downloaded and merged again (attempt %d of %d).\n",
                   attempt + 1, kMaxSyncAttempts);
        continue;
      }
      logMessage(module, "Sychronization has been finished with error: %s.\n", kListKeptChanging);
      return kListKeptChanging;
    } else if (!error.empty()) {
      logMessage(module, "Sychronization has been finished with error: %s.\n", error.c_str());
      return error;
    }
    app.lastSyncTime = plan.listTime;
    std::string output;
    if (plan.list) {
      cachePlanList(module, plan, cachePath);
      if (plan.apply) output = exchange::documentToText(plan.list.get());
    }
    *data = output;
    logMessage(module, "Sychronization has been finished successfully. Output data to browser is: %s.\n",
               output.c_str());
    return "";
  }
}

}  // namespace corvex
