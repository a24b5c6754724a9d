// mergeLists (which orders and renumbers its result) on lists of one user's
// size and beyond:
//   Flat/N   one container of N bookmarks
//   Tree     10,000 bookmarks in 500 folders of 20
// Cache, local and server list each hold N items; 90 % of them are in all
// three, 5 % of the cache is gone from the server and 5 % from the local list,
// and each side has 5 % new items of its own.
//
// And the guard in front of them, on a downloaded list of 300,001 items (one
// over the limit; 15,000 folders of 19 bookmarks, one more bookmark):
//   CountItems   countListItems without a tree, as the engine refuses it
//   ParseTree    parseDocumentText of the same text, for comparison
// Both report libxml2's peak heap during one run (peak_heap_MiB).
//
//   merge_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <libxml/xmlmemory.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exchange/document.h"
#include "exchange/item_count.h"
#include "exchange/merge.h"

namespace {

using exchange::UniqueXmlNode;

enum class Side { kCache, kLocal, kServer };

// Which lists item i of a container of n is in.
bool inList(Side side, int i, int n) {
  const int core = n * 90 / 100;
  const int slice = (n - core) / 2;
  if (i < core) return true;
  const int band = (i - core) / slice;  // 0: cache+local, 1: cache+server, 2: local, 3: server
  switch (side) {
    case Side::kCache:
      return band == 0 || band == 1;
    case Side::kLocal:
      return band == 0 || band == 2;
    case Side::kServer:
      return band == 1 || band == 3;
  }
  return false;
}

// A name that does not sort like its number, so ordering has work to do.
std::string itemName(int folder, int i) {
  unsigned h = static_cast<unsigned>(i) * 2654435761u ^ static_cast<unsigned>(folder) * 40503u;
  char text[48];
  std::snprintf(text, sizeof text, "Site %08x %d", h, i);
  return text;
}

void fillContainer(xmlNode* container, Side side, int folder, int n) {
  int order = 0;
  // Items are numbered as the previous synchronisation left them; new ones
  // take the next numbers.
  for (int i = 0; i < n * 110 / 100; ++i) {
    if (!inList(side, i, n)) continue;
    xmlNode* bookmark = exchange::addElement(container, exchange::kBookmarkElement);
    exchange::addTextElement(bookmark, exchange::kNameElement, itemName(folder, i));
    exchange::addTextElement(
        bookmark, exchange::kLinkElement,
        "http://example.com/" + std::to_string(folder) + "/" + std::to_string(i));
    exchange::setAttribute(bookmark, exchange::kOrderAttribute, std::to_string(order++));
  }
}

UniqueXmlNode makeList(Side side, int folders, int perContainer) {
  UniqueXmlNode root(xmlNewNode(nullptr, exchange::toXml(exchange::kBookmarksElement)));
  exchange::setAttribute(root.get(), exchange::kTypeAttribute, exchange::kFullType);
  if (folders == 0) {
    fillContainer(root.get(), side, 0, perContainer);
    return root;
  }
  for (int f = 0; f < folders; ++f) {
    xmlNode* folder = exchange::addElement(root.get(), exchange::kFolderElement);
    exchange::addTextElement(folder, exchange::kNameElement, "Folder " + std::to_string(f));
    exchange::setAttribute(folder, exchange::kOrderAttribute, std::to_string(f));
    fillContainer(exchange::addElement(folder, exchange::kChildrenElement), side, f, perContainer);
  }
  return root;
}

void runMerge(benchmark::State& state, int folders, int perContainer) {
  UniqueXmlNode cache = makeList(Side::kCache, folders, perContainer);
  UniqueXmlNode local = makeList(Side::kLocal, folders, perContainer);
  UniqueXmlNode server = makeList(Side::kServer, folders, perContainer);
  for (auto _ : state) {
    UniqueXmlNode result = exchange::mergeLists(local.get(), server.get(), cache.get(), "Bench");
    if (!result) state.SkipWithError("merge failed");
    benchmark::DoNotOptimize(result.get());
  }
  const int items = folders == 0 ? perContainer : folders * perContainer;
  state.counters["items"] = items;
  state.SetItemsProcessed(state.iterations() * items);
}

void Flat(benchmark::State& state) { runMerge(state, 0, static_cast<int>(state.range(0))); }
BENCHMARK(Flat)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

void Tree(benchmark::State& state) { runMerge(state, 500, 20); }
BENCHMARK(Tree)->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------ item counting

// libxml2's heap, counted through its allocator hooks while a measurement
// runs. Blocks are sized with malloc_usable_size, so blocks allocated before
// the hooks were set may be freed through them and the other way round.
std::atomic<long long> heapInUse{0};
std::atomic<long long> heapPeak{0};

void noteHeap(long long delta) {
  const long long now = heapInUse += delta;
  long long peak = heapPeak.load();
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
  }
}
void* countedMalloc(size_t size) {
  void* block = std::malloc(size);
  if (block) noteHeap(static_cast<long long>(malloc_usable_size(block)));
  return block;
}
void countedFree(void* block) {
  if (block) noteHeap(-static_cast<long long>(malloc_usable_size(block)));
  std::free(block);
}
void* countedRealloc(void* block, size_t size) {
  const long long before = block ? static_cast<long long>(malloc_usable_size(block)) : 0;
  void* moved = std::realloc(block, size);
  if (moved) noteHeap(static_cast<long long>(malloc_usable_size(moved)) - before);
  return moved;
}
char* countedStrdup(const char* text) {
  const size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(countedMalloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

// libxml2's peak heap above what it held when the scope began.
class HeapPeak {
 public:
  HeapPeak() {
    xmlMemSetup(countedFree, countedMalloc, countedRealloc, countedStrdup);
    base_ = heapInUse.load();
    heapPeak = base_;
  }
  ~HeapPeak() { xmlMemSetup(std::free, std::malloc, std::realloc, strdup); }
  double mebibytes() const { return static_cast<double>(heapPeak.load() - base_) / (1 << 20); }

 private:
  long long base_ = 0;
};

// 300,001 items as a service sends them: 15,000 folders of 19 bookmarks and
// one more bookmark, indented.
const std::string& longestListPlusOne() {
  static const std::string text = [] {
    std::string out = "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2026-12-11-10-00-00\" type=\"full\">\n";
    for (int f = 0; f < 15000; ++f) {
      out += "  <folder><name>F" + std::to_string(f) + "</name><children>\n";
      for (int b = 0; b < 19; ++b) {
        out += "    <bookmark><name>B" + std::to_string(b) + "</name><link>http://e.org/" +
               std::to_string(f) + "</link></bookmark>\n";
      }
      out += "  </children></folder>\n";
    }
    return out + "  <bookmark><name>last</name><link>http://e.org/</link></bookmark>\n</bookmarks>\n";
  }();
  return text;
}

void CountItems(benchmark::State& state) {
  const std::string& text = longestListPlusOne();
  double peak = 0;
  for (auto _ : state) {
    HeapPeak heap;
    const size_t items = exchange::countListItems(text, exchange::ControlBytes::Drop);
    if (items != exchange::kMaxListItems + 1) state.SkipWithError("wrong count");
    peak = std::max(peak, heap.mebibytes());
  }
  state.counters["items"] = static_cast<double>(exchange::kMaxListItems + 1);
  state.counters["text_MiB"] = static_cast<double>(text.size()) / (1 << 20);
  state.counters["peak_heap_MiB"] = peak;
}
BENCHMARK(CountItems)->Unit(benchmark::kMillisecond);

void ParseTree(benchmark::State& state) {
  const std::string& text = longestListPlusOne();
  double peak = 0;
  for (auto _ : state) {
    HeapPeak heap;
    exchange::UniqueXmlDoc doc = exchange::parseDocumentText(text);
    if (!doc) state.SkipWithError("parse failed");
    peak = std::max(peak, heap.mebibytes());
  }
  state.counters["items"] = static_cast<double>(exchange::kMaxListItems + 1);
  state.counters["peak_heap_MiB"] = peak;
}
BENCHMARK(ParseTree)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "merge_bench: times mergeLists with its ordering and renumbering.\n"
          "  Flat/N  one container of N bookmarks (1,000, 10,000, 50,000)\n"
          "  Tree    10,000 bookmarks in 500 folders\n"
          "Cache, local and server lists overlap by 90 %%.\n"
          "  CountItems  the item counter on a list of 300,001 items\n"
          "  ParseTree   parsing the same list into a tree\n"
          "Google Benchmark flags (--benchmark_filter, --benchmark_repetitions, ...)\n"
          "are accepted.\n");
      return 0;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
