// One computer synchronising again and again through the engine's exports
// against the reference service, while another computer adds bookmarks now
// and then: every run succeeds, no bookmark is lost, and neither the log (past
// its size limit), nor the open files, nor the memory of the process grow.
// 30 runs by default; QUORVANE_LONG_TESTS=1 runs 1,000.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "engine/client_app.h"
#include "engine/engine_log.h"
#include "platform/http_client.h"
#include "tests/support/child_process.h"
#include "tests/support/engine_library.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_prefix.h"

namespace {

bool longTests() {
  const char* value = std::getenv("QUORVANE_LONG_TESTS");
  return value && std::string(value) == "1";
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

size_t openFiles() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

std::string listDocument(const std::set<std::string>& names) {
  std::string text = "<?xml version=\"1.0\"?>\n<bookmarks>\n";
  int order = 0;
  for (const std::string& name : names) {
    text += "<bookmark order=\"" + std::to_string(order++) + "\"><name>" + name + "</name><link>http://" + name +
            ".example/</link><description>" + std::string(200, 'd') + "</description></bookmark>\n";
  }
  return text + "</bookmarks>\n";
}

std::set<std::string> names(const std::string& document) {
  std::set<std::string> found;
  static const std::regex name("<name>([^<]*)</name>");
  for (auto it = std::sregex_iterator(document.begin(), document.end(), name); it != std::sregex_iterator(); ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

TEST(LoadSoakTest, RepeatedSynchronisationsOfOneComputer) {
  testsupport::TempPrefix prefix;
  testsupport::NoProxyEnvironment noProxy;
  testsupport::TempDir serviceDir;
  testsupport::TempDir libraryDir;
  testsupport::ServiceProcess service(serviceDir.path());
  ASSERT_TRUE(service.addUser("alice", "pw"));
  ASSERT_TRUE(service.start());
  {
    corvex::ClientApp app("Explorer");
    app.server = "127.0.0.1/data";
    app.serverPort = service.port();
    app.username = "alice";
    app.password = "pw";
  }
  const std::filesystem::path log = prefix.path() / "profile/AppData/Roaming/BookmarkPlugin/bookmarks.log";
  const int runs = longTests() ? 1000 : 30;

  testsupport::EngineLibrary engine(libraryDir.path());
  ASSERT_TRUE(engine.loaded()) << engine.error();
  std::set<std::string> local{"first"};
  std::set<std::string> everything = local;
  std::set<std::string> server;
  long memoryAfterWarmUp = 0;
  size_t filesAfterWarmUp = 0;
  uintmax_t largestLog = 0;
  for (int run = 1; run <= runs; ++run) {
    if (run % 10 == 0) {
      local.insert("local" + std::to_string(run));
      everything.insert("local" + std::to_string(run));
    }
    if (run % 7 == 0) {
      // Another computer adds a bookmark to the service's list.
      server.insert("other" + std::to_string(run));
      everything.insert("other" + std::to_string(run));
      std::set<std::string> list = server;
      platform::HttpSession session("other", platform::InternetAccess::Direct);
      platform::HttpConnection connection(session, "127.0.0.1", service.port());
      platform::HttpRequest request(connection, "PUT", "/data?user=alice&pass=pw&function=put", 0);
      ASSERT_EQ(request.send(listDocument(list)), "");
      ASSERT_EQ(request.statusCode(), 200u);
    }
    std::string data = listDocument(local);
    std::string error;
    ASSERT_TRUE(engine.synchronize(false, "Explorer", &data, &error)) << "run " << run << ": " << error;
    if (!data.empty()) local = names(data);
    server = local;
    const uintmax_t logSize = std::filesystem::file_size(log);
    largestLog = std::max(largestLog, logSize);
    // Each run logs its input and output lists once: the file may pass the
    // limit by the entries of one run before it is deleted.
    ASSERT_LE(logSize, corvex::kLogSizeLimit + 4 * listDocument(everything).size() + 4096) << "run " << run;
    if (run == std::min(runs, 20)) {
      memoryAfterWarmUp = residentKiB();
      filesAfterWarmUp = openFiles();
    }
  }
  EXPECT_EQ(local, everything) << "a bookmark was lost";
  std::string exported;
  ASSERT_EQ(testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", "alice",
                                     "--database", service.database().string()},
                                    "", &exported),
            0);
  EXPECT_EQ(names(exported), everything);
  const long memoryAtEnd = residentKiB();
  std::printf("%d runs; open files %zu after warm-up, %zu at the end; resident memory %ld KiB after warm-up, "
              "%ld KiB at the end; largest log %ju bytes\n",
              runs, filesAfterWarmUp, openFiles(), memoryAfterWarmUp, memoryAtEnd, largestLog);
  EXPECT_LE(openFiles(), filesAfterWarmUp);
  EXPECT_LT(memoryAtEnd - memoryAfterWarmUp, 16 * 1024);
}

}  // namespace
