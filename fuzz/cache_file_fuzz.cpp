// libFuzzer target: the cache file as the engine reads it. The bytes are
// written as an application's cache file in a private prefix, parsed from the
// file, its time stamp read, and the cache used in a merge of two fixed lists.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "exchange/data_folder.h"
#include "exchange/document.h"
#include "exchange/list_ops.h"
#include "exchange/merge.h"
#include "exchange/timestamp.h"
#include "fuzz/fuzz_prefix.h"
#include "platform/files.h"

namespace {

constexpr char kLocal[] =
    "<?xml version=\"1.0\"?>\n<bookmarks>"
    "<folder order=\"0\"><name>News</name><children>"
    "<bookmark order=\"0\"><name>Daily</name><link>http://daily.example/</link></bookmark>"
    "</children></folder>"
    "<bookmark order=\"1\"><name>Lark</name><link>http://lark.example/</link></bookmark>"
    "</bookmarks>";

constexpr char kServer[] =
    "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">"
    "<bookmark order=\"0\"><name>Lark</name><link>http://lark.example/</link></bookmark>"
    "<bookmark order=\"1\"><name>Server</name><link>http://server.example/</link></bookmark>"
    "</bookmarks>";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::fuzzPrefix();
  static const std::filesystem::path path = exchange::cacheFilePath("Fuzz");
  static const exchange::UniqueXmlDoc local = exchange::parseDocumentText(kLocal);
  static const exchange::UniqueXmlDoc server = exchange::parseDocumentText(kServer);
  if (path.empty() || !platform::writeWholeFile(path, fuzzsupport::bytesOf(data, size))) std::abort();

  exchange::UniqueXmlDoc cache = exchange::parseDocumentFile(path);
  const xmlNode* cacheRoot = exchange::rootElement(cache.get());
  if (!cacheRoot) return 0;
  if (auto stamp = exchange::attribute(cacheRoot, exchange::kTimestampAttribute)) {
    exchange::parseTimestamp(*stamp);
  }
  const xmlNode* localRoot = exchange::rootElement(local.get());
  exchange::sameLists(cacheRoot, localRoot);
  exchange::UniqueXmlNode merged =
      exchange::mergeLists(localRoot, exchange::rootElement(server.get()), cacheRoot, "Fuzz");
  if (merged) {
    exchange::UniqueXmlDoc doc = exchange::documentWithRoot(std::move(merged));
    if (!exchange::parseDocumentText(exchange::documentToText(doc.get()))) std::abort();
    // Written back as the next run's cache, it must read again.
    if (!exchange::saveDocumentFile(doc.get(), path).empty()) std::abort();
    if (!exchange::parseDocumentFile(path)) std::abort();
  }
  return 0;
}
