// Costs of the platform calls the engine makes on every settings save and
// load: registry values, the settings mutex, code page conversions.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"

namespace {

// A fresh prefix for the whole run, removed at exit.
class BenchPrefix {
 public:
  BenchPrefix() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-bench-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
    setenv("QUORVANE_PREFIX", path_.c_str(), 1);
  }
  ~BenchPrefix() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

 private:
  std::filesystem::path path_;
};

BenchPrefix g_prefix;

constexpr const char* kKey = "Software\\Veltrane Inc.\\Quorvane\\Explorer";

void BM_RegistrySetDword(benchmark::State& state) {
  platform::RegKey key;
  platform::RegKey::create(platform::RegRoot::CurrentUser, kKey, &key);
  uint32_t n = 0;
  for (auto _ : state) benchmark::DoNotOptimize(key.setDword("inscount", ++n));
}
BENCHMARK(BM_RegistrySetDword);

void BM_RegistryQueryDword(benchmark::State& state) {
  platform::RegKey key;
  platform::RegKey::create(platform::RegRoot::CurrentUser, kKey, &key);
  key.setDword("inscount", 1);
  for (auto _ : state) {
    uint32_t value = 0, size = sizeof value;
    benchmark::DoNotOptimize(key.queryValue("inscount", nullptr, &value, &size));
  }
}
BENCHMARK(BM_RegistryQueryDword);

// The engine's save: open the key, thirteen values, each its own write.
void BM_RegistrySaveSettings(benchmark::State& state) {
  for (auto _ : state) {
    platform::NamedMutex mutex("Corvex_CliEntApp_RegisTry");
    mutex.lock();
    platform::RegKey key;
    platform::RegKey::create(platform::RegRoot::CurrentUser, kKey, &key);
    for (int i = 0; i < 13; ++i) key.setDword("value" + std::to_string(i), static_cast<uint32_t>(i));
    mutex.unlock();
  }
}
BENCHMARK(BM_RegistrySaveSettings);

void BM_NamedMutexLockUnlock(benchmark::State& state) {
  platform::NamedMutex mutex("Corvex_CliEntApp_RegisTry");
  for (auto _ : state) {
    mutex.lock();
    mutex.unlock();
  }
}
BENCHMARK(BM_NamedMutexLockUnlock);

void BM_Utf16ToAnsi(benchmark::State& state) {
  std::u16string text;
  for (int i = 0; i < 100; ++i) text += u"Caf\u00E9 bookmark title ";
  for (auto _ : state) benchmark::DoNotOptimize(platform::utf16ToMultiByte(1252, text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Utf16ToAnsi);

void BM_Utf8ToUtf16(benchmark::State& state) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "Caf\xC3\xA9 bookmark title ";
  for (auto _ : state) benchmark::DoNotOptimize(platform::utf8ToUtf16(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Utf8ToUtf16);

}  // namespace

BENCHMARK_MAIN();
