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

std::string runSynchronization(ClientApp& app, std::string* data) {
  const char* module = app.appName.c_str();
  auto fail = [&](const std::string& text) { return text; };
  auto succeed = [&](const std::string& output) {
    *data = output;
    logMessage(module, "Sychronization has been finished successfully. Output data to browser is: %s.\n",
               output.c_str());
    return std::string();
  };

  logMessage(module, "Sychronization has been started. Input data for sychronization from browser is: %s.\n",
             data->c_str());
  if (const std::string message = validateSettings(app); !message.empty()) {
    logMessage(module, "Sychronization has been finished with invalid application settings error: %s.\n",
               message.c_str());
    return fail(message);
  }
  if (app.enabled == 0) {
    logMessage(module, "Sychronization has been finished with error: Synchronization isn't enabled.\n");
    return fail(kNotEnabled);
  }
  exchange::UniqueXmlDoc localDoc = exchange::parseDocumentText(*data);
  xmlNode* localRoot = exchange::rootElement(localDoc.get());
  if (!localRoot) {
    logMessage(module,
               "Sychronization has been finished with error: Could not parse XML with bookmarks given from "
               "extension.\n");
    return fail(kBadInputXml);
  }
  // Every list is united right after parsing: the merge and the comparisons
  // see only the first of sibling items of one name.
  const bool localUnited = exchange::uniteDuplicates(localRoot, app.appName) > 0;

  const std::filesystem::path cachePath = cacheFilePath(app);
  exchange::UniqueXmlDoc cacheDoc;
  bool cacheDamaged = false;
  if (!cachePath.empty() && platform::fileExists(cachePath)) {
    cacheDoc = exchange::parseDocumentFile(cachePath);
    logMessage(module, "Sychronization: fetching locally cached bookmarks from %s has been completed.\n",
               cachePath.string().c_str());
    cacheDamaged = !cacheDoc;
  }
  xmlNode* cachedRoot = exchange::rootElement(cacheDoc.get());
  if (cachedRoot) exchange::uniteDuplicates(cachedRoot, app.appName);

  // A cache file that is there but does not parse was damaged by something
  // else: this is not a first synchronisation, and replacing a whole list by
  // the other (the first-synchronisation methods) would lose what the other
  // side added since. The lists are merged without a cache instead, which
  // deletes nothing.
  if (cacheDamaged) {
    logMessage(module,
               "Sychronization: the local cache %s could not be read; the lists are merged without it, so "
               "nothing is deleted in this run.\n",
               cachePath.string().c_str());
  }
  const FirstSyncMethod method =
      cachedRoot || cacheDamaged ? FirstSyncMethod::Merge : readFirstSyncMethod(app);

  app.lastSyncTime = 0;
  if (cachedRoot) {
    if (auto stamp = exchange::attribute(cachedRoot, exchange::kTimestampAttribute)) {
      app.lastSyncTime = exchange::parseTimestamp(*stamp);
    }
  }

  exchange::UniqueXmlDoc serverDoc;
  xmlNode* serverRoot = nullptr;
  std::optional<exchange::CacheMergeBase> mergeBase;
  bool serverUnited = false;
  bool full = false;
  if (method != FirstSyncMethod::TakeLocal) {
    std::string downloaded;
    if (const std::string error = downloadList(app, &downloaded); !error.empty()) {
      logMessage(module, "Sychronization has been finished with error while downloading: %s.\n", error.c_str());
      return fail(error);
    }
    // What the cache tells of the local side is taken before the server's
    // tree is built: the merge then never holds four whole lists at once.
    if (cachedRoot) mergeBase = exchange::prepareCacheMerge(localRoot, cachedRoot);
    serverDoc = exchange::parseDocumentText(withoutControlBytes(downloaded));
    serverRoot = exchange::rootElement(serverDoc.get());
    if (!serverRoot) {
      logMessage(module, "Sychronization has been finished with error: Could not parse downloaded XML.\n");
      return fail(kBadDownloadedXml);
    }
    const std::optional<std::string> type = exchange::attribute(serverRoot, exchange::kTypeAttribute);
    // A full service list that had to be united goes back united, even when
    // it then equals the local one.
    serverUnited = exchange::uniteDuplicates(serverRoot, app.appName) > 0 && type == exchange::kFullType;
    if (!serverUnited && exchange::sameLists(localRoot, serverRoot)) {
      logMessage(module, "Sychronization has been finished - no changes detected.\n");
      data->clear();
      return "";
    }
    if (!type) {
      logMessage(module,
                 "Sychronization has been finished with error: Could not parse downloaded XML. Bookmarks type "
                 "attribute does not found.\n");
      return fail(kNoTypeAttribute);
    }
    if (auto stamp = exchange::attribute(serverRoot, exchange::kTimestampAttribute)) {
      app.lastSyncTime = exchange::parseTimestamp(*stamp);
    }
    full = *type == exchange::kFullType;
    if (!full) {
      logMessage(module, "Sychronization: server xml hasn't been changed because 'type'='skip'.\n");
      if (cachedRoot && exchange::sameLists(cachedRoot, localRoot)) return succeed("");
      if (const std::string error = uploadList(app, exchange::documentToText(localDoc.get()), RequestKind::Put);
          !error.empty()) {
        logMessage(module, "Sychronization has been finished with error: %s.\n", error.c_str());
        return fail(error);
      }
      exchange::setAttribute(localRoot, exchange::kTimestampAttribute, exchange::formatTimestamp(app.lastSyncTime));
      saveCache(module, localDoc.get(), cachePath);
      return succeed("");
    }
  }

  if (full) logMessage(module, "Sychronization: server xml has been changed because 'type'='full'.\n");
  exchange::UniqueXmlNode newRoot;
  switch (method) {
    case FirstSyncMethod::Merge:
      newRoot = mergeBase ? exchange::finishCacheMerge(std::move(*mergeBase), localRoot, serverRoot, cachedRoot,
                                                       app.appName)
                          : exchange::mergeLists(localRoot, serverRoot, cachedRoot, app.appName);
      break;
    case FirstSyncMethod::TakeServer:
      newRoot = exchange::deepCopy(serverRoot);
      break;
    case FirstSyncMethod::TakeLocal:
      newRoot = exchange::deepCopy(localRoot);
      if (newRoot) {
        app.lastSyncTime = std::time(nullptr);
        exchange::setAttribute(newRoot.get(), exchange::kTimestampAttribute,
                               exchange::formatTimestamp(app.lastSyncTime));
      }
      break;
  }
  if (!newRoot) return fail(kEmptyMerge);
  exchange::UniqueXmlDoc newDoc = exchange::documentWithRoot(std::move(newRoot));
  xmlNode* mergedRoot = exchange::rootElement(newDoc.get());
  if (!mergedRoot) return fail(kEmptyMerge);

  // Only the merged tree is needed from here on: the comparisons are made
  // now so that the three input trees go before the upload text and the
  // answer text are built (a large list costs several times its text size
  // as a tree).
  const bool differsFromServer =
      (method != FirstSyncMethod::TakeLocal && serverUnited) ||
      (method == FirstSyncMethod::Merge && !exchange::sameLists(mergedRoot, serverRoot));
  const bool differsFromLocal =
      method == FirstSyncMethod::Merge && (localUnited || !exchange::sameLists(mergedRoot, localRoot));
  serverDoc.reset();
  cacheDoc.reset();
  localDoc.reset();

  if (method == FirstSyncMethod::TakeLocal || differsFromServer) {
    const RequestKind kind = method == FirstSyncMethod::TakeLocal ? RequestKind::Remove : RequestKind::Put;
    if (const std::string error = uploadList(app, exchange::documentToText(newDoc.get()), kind); !error.empty()) {
      logMessage(module, "Sychronization has been finished with error: %s.\n", error.c_str());
      return fail(error);
    }
  }
  exchange::setAttribute(mergedRoot, exchange::kTimestampAttribute, exchange::formatTimestamp(app.lastSyncTime));
  saveCache(module, newDoc.get(), cachePath);

  if (method == FirstSyncMethod::TakeServer || differsFromLocal) {
    return succeed(exchange::documentToText(newDoc.get()));
  }
  return succeed("");
}

}  // namespace corvex
