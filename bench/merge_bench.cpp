// mergeLists (which orders and renumbers its result) on lists of one user's
// size and beyond:
//   Flat/N   one container of N bookmarks
//   Tree     10,000 bookmarks in 500 folders of 20
// Cache, local and server list each hold N items; 90 % of them are in all
// three, 5 % of the cache is gone from the server and 5 % from the local list,
// and each side has 5 % new items of its own.
//
//   merge_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "exchange/document.h"
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

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf(
          "merge_bench: times mergeLists with its ordering and renumbering.\n"
          "  Flat/N  one container of N bookmarks (1,000, 10,000, 50,000)\n"
          "  Tree    10,000 bookmarks in 500 folders\n"
          "Cache, local and server lists overlap by 90 %%.\n"
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
