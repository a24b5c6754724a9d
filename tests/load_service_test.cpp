// The reference service under load over loopback: 16 clients at once, each
// with an account of its own, mixing GETs, PUTs of its own list and requests
// with a wrong password. No request may fail other than the 401s of the wrong
// passwords, no client may read back anything but the list it last stored,
// and the process's memory must not keep growing. A few seconds by default;
// QUORVANE_LONG_TESTS=1 runs the full 60 seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/testing/test_service.h"
#include "tests/support/temp_prefix.h"

namespace {

bool longTests() {
  const char* value = std::getenv("QUORVANE_LONG_TESTS");
  return value && std::string(value) == "1";
}

// Resident memory of this process in KiB.
long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string clientList(int client, int version) {
  std::string text = "<?xml version=\"1.0\"?>\n<bookmarks>";
  for (int i = 0; i < 20; ++i) {
    text += "<bookmark order=\"" + std::to_string(i) + "\"><name>c" + std::to_string(client) + "-" +
            std::to_string(i) + "</name><link>http://example.org/" + std::to_string(i) + "</link></bookmark>";
  }
  text += "<bookmark order=\"20\"><name>version " + std::to_string(version) +
          "</name><link>http://example.org/v</link></bookmark></bookmarks>";
  return text;
}

TEST(LoadServiceTest, SixteenClientsMixingReadsWritesAndWrongPasswords) {
  testsupport::TempPrefix prefix;
  // A connection's first request gets only the keep-alive wait (5 s) for
  // its first byte. With 16 clients and the slow password checks on two
  // shared cores, a client thread can be kept off the processor that long
  // between connecting and sending: the service then closes the connection
  // and the request fails (1 to 4 PUTs in 60 s here). The longer wait keeps
  // the machine's scheduling out of what this test measures.
  service::ServerOptions options;
  options.keepAliveTimeout = std::chrono::seconds(30);
  service::testing::RunningService service(options);
  constexpr int kClients = 16;
  for (int i = 0; i < kClients; ++i) service.addAccount("user" + std::to_string(i), "pw" + std::to_string(i));
  const auto duration = longTests() ? std::chrono::seconds(60) : std::chrono::seconds(3);

  std::atomic<long> requests{0};
  std::atomic<long> unexpected{0};
  std::atomic<long> lostUpdates{0};
  std::atomic<long> wrongPasswords{0};
  std::mutex failuresMutex;
  std::vector<std::string> failures;  // the first few, for the report
  auto fail = [&](const std::string& what, const service::testing::Reply& reply) {
    ++unexpected;
    std::lock_guard<std::mutex> lock(failuresMutex);
    if (failures.size() < 10) {
      failures.push_back(what + ": status " + std::to_string(reply.status) + " " + reply.error + " " +
                         reply.body.substr(0, 200));
    }
  };
  // A request whose connection broke before any answer (status 0) is sent
  // once more and counted: under the sanitizers a PUT has been seen, rarely,
  // to lose its connection before the service read it (nothing stored). A
  // second failure counts as a failed request.
  std::atomic<long> resent{0};
  auto send = [&](const std::string& method, const std::string& url, const std::string& body) {
    service::testing::Reply reply = service::testing::fetch(method, url, body);
    if (reply.status == 0) {
      ++resent;
      reply = service::testing::fetch(method, url, body);
    }
    return reply;
  };
  long memoryHalfway = 0;
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + duration;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      const std::string user = "user" + std::to_string(c);
      const std::string pass = "pw" + std::to_string(c);
      int version = 0;
      std::string stored;
      for (long step = 0; std::chrono::steady_clock::now() < end && step < 1000000; ++step) {
        service::testing::Reply reply;
        if (step % 100 == 10) {
          // Each wrong password costs a full slow check: a few only.
          reply = send("GET", service.dataUrl(user, "not" + pass, "get"), "");
          ++wrongPasswords;
          if (reply.status != 401) fail("wrong password", reply);
        } else if (step % 4 == 0) {
          const std::string list = clientList(c, ++version);
          reply = send("PUT", service.dataUrl(user, pass, "put"), list);
          if (reply.status != 200) fail("PUT", reply);
          else stored = "version " + std::to_string(version);
        } else {
          reply = send("GET", service.dataUrl(user, pass, "get"), "");
          if (reply.status != 200) fail("GET", reply);
          else if (!stored.empty() && reply.body.find("<name>" + stored + "</name>") == std::string::npos) {
            ++lostUpdates;
          }
        }
        ++requests;
      }
    });
  }
  std::this_thread::sleep_until(start + duration / 2);
  memoryHalfway = residentKiB();
  for (std::thread& client : clients) client.join();
  const long memoryAtEnd = residentKiB();

  std::printf("%ld requests (%ld with a wrong password, %ld sent twice) by %d clients in %lld s; resident "
              "memory %ld KiB halfway, %ld KiB at the end\n",
              requests.load(), wrongPasswords.load(), resent.load(), kClients,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(duration).count()),
              memoryHalfway, memoryAtEnd);
  EXPECT_GT(requests.load(), kClients);
  EXPECT_GT(wrongPasswords.load(), 0);
  EXPECT_EQ(unexpected.load(), 0);
  for (const std::string& failure : failures) ADD_FAILURE() << failure;
  EXPECT_EQ(lostUpdates.load(), 0);
  // Flat: the second half adds no more than the slow checks' working sets
  // (64 MiB each, a few at once) that the allocator may keep.
  EXPECT_LT(memoryAtEnd - memoryHalfway, 256 * 1024);
}

}  // namespace
