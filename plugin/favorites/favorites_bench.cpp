// The Favorites store on folders of one user's size and beyond: N bookmarks
// in folders of 20, each folder with its stored menu order.
//   Read/N    readFavorites of the whole folder (with the ordering)
//   Write/N   writeFavorites of the document read, then flushMenuOrders
//
//   favorites_bench [--benchmark_filter=REGEX] [other Google Benchmark flags]
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/codepage.h"
#include "platform/folders.h"
#include "plugin/favorites/icons.h"
#include "plugin/favorites/menu_order.h"
#include "plugin/favorites/reader.h"
#include "plugin/favorites/writer.h"

namespace {

namespace fs = std::filesystem;

// A fresh prefix for the whole run, removed at exit.
class BenchPrefix {
 public:
  BenchPrefix() {
    std::string pattern = (fs::temp_directory_path() / "quorvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    setenv("QUORVANE_PREFIX", path_.c_str(), 1);
  }
  ~BenchPrefix() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

BenchPrefix g_prefix;

// Fills the Favorites folder with n bookmarks in folders of 20 and stores
// their menu order, as a run that wrote them would.
void fillFavorites(int n) {
  const fs::path fav = platform::specialFolder(platform::SpecialFolder::Favorites);
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fav)) fs::remove_all(entry.path(), ec);
  const fs::path icons = g_prefix.path() / "icons";
  fs::create_directories(icons);
  std::ofstream(favorites::pluginConfigPath(), std::ios::binary)
      << "\r\nicons_folder=" << platform::utf16ToAnsi(platform::pathToUtf16(icons)) << "\\";
  for (int i = 0; i < n; ++i) {
    const std::string folder = "Folder " + std::to_string(i / 20);
    fs::create_directories(fav / folder);
    const std::string name = "Bookmark number " + std::to_string(i) + ".url";
    std::ofstream(fav / folder / name, std::ios::binary)
        << "[DEFAULT]\r\nBASEURL=http://www.example.org/" << i
        << "\r\n[InternetShortcut]\r\nURL=http://www.example.org/" << i
        << "\r\nDescription=Bookmark " << i;
    favorites::menuOrderFor(platform::utf8ToUtf16("\\" + folder))
        ->addEntry(platform::utf8ToUtf16(name), u"", favorites::ItemKind::File, 19 - i % 20);
  }
  favorites::flushMenuOrders();
}

void BM_Read(benchmark::State& state) {
  fillFavorites(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string text;
    favorites::readFavorites(&text);
    favorites::flushMenuOrders();
    benchmark::DoNotOptimize(text);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Read)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_Write(benchmark::State& state) {
  fillFavorites(static_cast<int>(state.range(0)));
  std::string text;
  favorites::readFavorites(&text);
  favorites::flushMenuOrders();
  for (auto _ : state) {
    favorites::writeFavorites(text);
    favorites::flushMenuOrders();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Write)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
