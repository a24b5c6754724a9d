// Several processes on one hive at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

constexpr const char* kKey = "Software\\Veltrane Inc.\\Quorvane\\Explorer";
const char* const kNames[] = {"enabled", "server", "server_port", "username", "sync_period"};

// One generation of the set: every value carries the writer and the round.
std::vector<RegValue> generation(int writer, int round) {
  std::vector<RegValue> set;
  std::string tag = std::to_string(writer) + ":" + std::to_string(round);
  for (const char* name : kNames) {
    // Sizes differ between generations, so a torn write would also show in
    // the lengths.
    set.push_back(RegValue{name, kRegSz, tag + std::string(static_cast<size_t>(round % 7), '.') +
                                             std::string(1, '\0')});
  }
  return set;
}

// Reads the set; an empty text when all values agree (or none exist yet),
// a description of the mismatch otherwise.
std::string checkSet(const RegKey& key) {
  std::vector<RegValue> values;
  Status status = key.values(&values);
  if (status != kOk) return "values() failed with " + std::to_string(status);
  if (values.empty()) return "";
  if (values.size() != std::size(kNames)) return "set of " + std::to_string(values.size());
  for (const RegValue& value : values) {
    if (value.data != values[0].data) return "torn set: " + values[0].data + " / " + value.data;
  }
  return "";
}

// Child body: returns the exit code (0 on success).
int writer(int id, int rounds) {
  RegKey key;
  if (RegKey::create(RegRoot::CurrentUser, kKey, &key) != kOk) return 10;
  for (int round = 0; round < rounds; ++round) {
    if (key.setValues(generation(id, round)) != kOk) return 11;
    // Keys made by both processes at once all arrive.
    RegKey own;
    std::string path = std::string(kKey) + "\\w" + std::to_string(id) + "\\r" + std::to_string(round);
    if (RegKey::create(RegRoot::CurrentUser, path, &own) != kOk) return 12;
    if (!checkSet(key).empty()) return 13;
  }
  return 0;
}

int reader(int rounds) {
  RegKey key;
  if (RegKey::create(RegRoot::CurrentUser, kKey, &key) != kOk) return 20;
  for (int round = 0; round < rounds; ++round) {
    if (!checkSet(key).empty()) return 21;
  }
  return 0;
}

pid_t spawn(int (*body)(int, int), int a, int b) {
  pid_t pid = fork();
  if (pid == 0) _exit(body(a, b));
  return pid;
}

int exitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(RegistryProcesses, ConcurrentWritersNeverLeaveAHalfWrittenSet) {
  testsupport::TempPrefix prefix;
  constexpr int kRounds = 150;
  // The parent uses the hive before forking, so the children inherit an open
  // connection that they must not use.
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, kKey, &key), kOk);
  ASSERT_EQ(key.setValues(generation(0, 0)), kOk);

  std::vector<pid_t> children = {
      spawn(writer, 1, kRounds), spawn(writer, 2, kRounds),
      spawn([](int, int rounds) { return reader(rounds); }, 0, kRounds * 2)};
  std::string problem;
  for (int i = 0; i < kRounds && problem.empty(); ++i) problem = checkSet(key);
  for (pid_t child : children) EXPECT_EQ(exitCode(child), 0);
  EXPECT_EQ(problem, "");

  for (int id : {1, 2}) {
    RegKey parent;
    ASSERT_EQ(RegKey::open(RegRoot::CurrentUser, std::string(kKey) + "\\w" + std::to_string(id),
                           &parent),
              kOk);
    std::vector<std::string> names;
    ASSERT_EQ(parent.subKeys(&names), kOk);
    EXPECT_EQ(names.size(), static_cast<size_t>(kRounds));
  }
  EXPECT_EQ(checkSet(key), "");

  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((prefix.path() / "registry" / "HKCU.db").c_str(), &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
  std::string result;
  sqlite3_exec(
      db.get(), "PRAGMA integrity_check",
      [](void* out, int, char** values, char**) {
        *static_cast<std::string*>(out) += values[0] ? values[0] : "";
        return 0;
      },
      &result, nullptr);
  EXPECT_EQ(result, "ok");
}

TEST(RegistryProcesses, ThreadsOfOneProcessShareTheHiveSafely) {
  testsupport::TempPrefix prefix;
  RegKey key;
  ASSERT_EQ(RegKey::create(RegRoot::CurrentUser, kKey, &key), kOk);
  std::vector<std::string> problems(4);
  std::vector<std::thread> threads;
  for (int id = 0; id < 4; ++id) {
    threads.emplace_back([&, id] {
      for (int round = 0; round < 50 && problems[id].empty(); ++round) {
        if (id % 2 == 0 && key.setValues(generation(id, round)) != kOk) problems[id] = "write";
        if (problems[id].empty()) problems[id] = checkSet(key);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& problem : problems) EXPECT_EQ(problem, "");
}

}  // namespace
}  // namespace platform
