// Load test of quorvane-service: an in-process service on an ephemeral
// loopback port with its database in a temporary folder, driven by 16
// client threads, each with its own keep-alive libcurl handle. Every
// benchmark runs a fixed number of requests per client, so the run is
// bounded in count; the reported items_per_second is requests per second
// over all clients.
//
//   service_load_bench [Google Benchmark options]
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "service/admin.h"
#include "service/http_server.h"
#include "service/sqlite_storage.h"

namespace {

constexpr int kClients = 16;
constexpr int kBookmarks = 1000;

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
using Curl = std::unique_ptr<CURL, CurlDeleter>;

size_t collect(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct Upload {
  const std::string* body;
  size_t offset;
};

size_t supply(char* buffer, size_t size, size_t count, void* in) {
  auto* upload = static_cast<Upload*>(in);
  size_t n = std::min(size * count, upload->body->size() - upload->offset);
  upload->body->copy(buffer, n, upload->offset);
  upload->offset += n;
  return n;
}

// One request on a reused handle; the HTTP status (0 on transport failure).
long perform(CURL* c, const std::string& url, const std::string* putBody, std::string& response) {
  response.clear();
  Upload upload{putBody, 0};
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
  if (putBody) {
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, supply);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(putBody->size()));
  } else {
    curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  }
  if (curl_easy_perform(c) != CURLE_OK) return 0;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

std::string thousandBookmarks() {
  std::string text =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen "
      "Exchange//EN\" \"exchange.dtd\">\n<bookmarks timestamp=\"2005-03-07-09-05-00\" "
      "type=\"full\">\n";
  int order = 0;
  for (int f = 0; f < 20; ++f) {
    text += "  <folder order=\"" + std::to_string(order++) + "\"><name>Folder " +
            std::to_string(f) + "</name><children>\n";
    for (int b = 0; b < kBookmarks / 20; ++b) {
      std::string n = std::to_string(f * 100 + b);
      text += "    <bookmark order=\"" + std::to_string(order++) + "\"><name>Bookmark " + n +
              " &amp; more</name><link>http://www.example.org/section/" + n +
              "/index.html?q=1</link><description>Saved page " + n +
              "</description><icon_index>0</icon_index></bookmark>\n";
    }
    text += "  </children></folder>\n";
  }
  return text + "</bookmarks>\n";
}

// A running service with one account holding the list.
struct Fixture {
  explicit Fixture(bool rememberPasswords) : passwords(rememberPasswords) {
    char pattern[] = "/tmp/quorvane-bench-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    dir = pattern;
    if (!service::SqliteStorage::open(dir / "service.db", storage).empty()) std::abort();
    if (!service::addUser(*storage, "bench", "bench-password", std::time(nullptr)).empty()) {
      std::abort();
    }
    service::ServerOptions options;
    options.port = 0;
    options.threads = 32;
    server = std::make_unique<service::Server>(*storage, passwords, options);
    if (!server->start().empty()) std::abort();
    base = "http://127.0.0.1:" + std::to_string(server->port()) +
           "/data?user=bench&pass=bench-password&function=";
    list = thousandBookmarks();
    Curl c(curl_easy_init());
    std::string response;
    if (perform(c.get(), base + "put", &list, response) != 200) std::abort();
    perform(c.get(), base + "get", nullptr, response);
    std::size_t at = response.find("timestamp=\"");
    timestamp = response.substr(at + 11, 19);
    fullBytes = response.size();
  }
  ~Fixture() {
    server->stop();
    server.reset();
    storage.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
  std::unique_ptr<service::SqliteStorage> storage;
  service::PasswordChecker passwords;
  std::unique_ptr<service::Server> server;
  std::string base, list, timestamp;
  std::size_t fullBytes = 0;
};

Fixture* gFixture = nullptr;      // passwords remembered after the first check
Fixture* gColdFixture = nullptr;  // every request pays the full password check

void run(benchmark::State& state, Fixture& f, const std::string& url, const std::string* body) {
  Curl c(curl_easy_init());
  std::string response;
  long failures = 0;
  for (auto _ : state) {
    if (perform(c.get(), url, body, response) != 200) ++failures;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["failures"] =
      benchmark::Counter(static_cast<double>(failures), benchmark::Counter::kDefaults);
  if (state.thread_index() == 0) state.counters["list_bytes"] = static_cast<double>(f.fullBytes);
}

void BM_GetFullList(benchmark::State& state) {
  run(state, *gFixture, gFixture->base + "get", nullptr);
}
void BM_GetUnchanged(benchmark::State& state) {
  run(state, *gFixture, gFixture->base + "get&timestamp=" + gFixture->timestamp, nullptr);
}
void BM_PutList(benchmark::State& state) {
  run(state, *gFixture, gFixture->base + "put", &gFixture->list);
}
void BM_GetFullListColdPasswordCheck(benchmark::State& state) {
  run(state, *gColdFixture, gColdFixture->base + "get", nullptr);
}

}  // namespace

BENCHMARK(BM_GetFullList)->Threads(kClients)->Iterations(200)->UseRealTime();
BENCHMARK(BM_GetUnchanged)->Threads(kClients)->Iterations(200)->UseRealTime();
BENCHMARK(BM_PutList)->Threads(kClients)->Iterations(50)->UseRealTime();
BENCHMARK(BM_GetFullListColdPasswordCheck)->Threads(kClients)->Iterations(4)->UseRealTime();

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  {
    Fixture warm(true);
    Fixture cold(false);
    gFixture = &warm;
    gColdFixture = &cold;
    benchmark::RunSpecifiedBenchmarks();
    gFixture = gColdFixture = nullptr;
  }
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
