// Whole synchronisations through the engine's exports while the systems
// beneath fail: the network (refused, reset in the middle of a body, a
// service that stalls, an upload cut off), the file system (disk full) and
// the registry (failing from the n-th write on). Each run ends with the
// operation's failure text or a success that loses nothing; the cache keeps
// the last agreed state after a failure; once the fault is gone the next run
// completes and every bookmark of both sides is on the service and in the
// returned list.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "engine/client_app.h"
#include "platform/errors.h"
#include "platform/faults.h"
#include "platform/http_client.h"
#include "tests/support/child_process.h"
#include "tests/support/engine_library.h"
#include "tests/support/http_test_server.h"
#include "tests/support/proxy_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_prefix.h"

namespace {

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret";
constexpr char kCantConnect[] = "Can't connect. Please check proxy and connection settings.";
constexpr char kCantPut[] = "Can't put the data. Please check proxy and connection settings.";

using Names = std::vector<std::string>;

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string listDocument(const Names& names) {
  std::string text = "<?xml version=\"1.0\"?>\n<bookmarks>\n";
  int order = 0;
  for (const std::string& name : names) {
    text += "<bookmark order=\"" + std::to_string(order++) + "\"><name>" + name + "</name><link>http://" + name +
            ".example/</link></bookmark>\n";
  }
  return text + "</bookmarks>\n";
}

Names names(const std::string& document) {
  if (document.find("<bookmarks") == std::string::npos) return {"<none>"};
  Names found;
  static const std::regex name("<name>([^<]*)</name>");
  for (auto it = std::sregex_iterator(document.begin(), document.end(), name); it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1]);
  }
  std::sort(found.begin(), found.end());
  return found;
}

// A loopback front of the service that breaks exchanges on purpose.
class BrokenFront {
 public:
  enum class Mode {
    ResetInBody,  // a GET gets half its body, then the connection is reset
    ResetPut,     // GETs pass to the service; a PUT's connection is reset
  };
  BrokenFront(Mode mode, unsigned short servicePort) : mode_(mode), servicePort_(servicePort) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 8) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no listening socket";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~BrokenFront() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  unsigned short port() const { return port_; }
  int puts() const { return puts_; }

 private:
  void serve() {
    while (!stop_) {
      const int client = accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      handle(client);
      close(client);
    }
  }
  static void reset(int client) {
    linger hard{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  // Reads one request; false when the connection ends first.
  static bool readRequest(int client, std::string* head, std::string* body) {
    std::string data;
    char buffer[4096];
    size_t end;
    while ((end = data.find("\r\n\r\n")) == std::string::npos) {
      const ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      data.append(buffer, static_cast<size_t>(got));
    }
    *head = data.substr(0, end + 4);
    *body = data.substr(end + 4);
    std::smatch match;
    static const std::regex lengthHeader("[Cc]ontent-[Ll]ength: *([0-9]+)");
    const size_t length = std::regex_search(*head, match, lengthHeader) ? std::stoul(match[1]) : 0;
    while (body->size() < length) {
      const ssize_t got = recv(client, buffer, sizeof buffer, 0);
      if (got <= 0) return false;
      body->append(buffer, static_cast<size_t>(got));
    }
    return true;
  }
  void handle(int client) {
    std::string head, body;
    for (;;) {
      if (!readRequest(client, &head, &body)) return;
      const std::string method = head.substr(0, head.find(' '));
      const std::string target = head.substr(method.size() + 1, head.find(' ', method.size() + 1) - method.size() - 1);
      if (method == "PUT") ++puts_;
      if (mode_ == Mode::ResetPut && method == "PUT") return reset(client);
      // Pass the request on to the service.
      platform::HttpSession session("front", platform::InternetAccess::Direct);
      platform::HttpConnection connection(session, "127.0.0.1", servicePort_);
      platform::HttpRequest request(connection, method, target, 0);
      if (!request.send(body).empty()) return reset(client);
      std::string answer;
      char buffer[4096];
      for (size_t got; (got = request.read(buffer, sizeof buffer)) > 0;) answer.append(buffer, got);
      std::string reply = "HTTP/1.1 " + std::to_string(request.statusCode()) +
                          " X\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(answer.size()) +
                          "\r\n\r\n";
      if (mode_ == Mode::ResetInBody) {
        reply += answer.substr(0, answer.size() / 2);
        send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return reset(client);
      }
      reply += answer;
      send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
  }

  Mode mode_;
  unsigned short servicePort_;
  int fd_ = -1;
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> puts_{0};
  std::thread thread_;
};

// A loopback port on which nothing listens.
unsigned short closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

class FaultEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.addUser(kUser, kPassword));
    ASSERT_TRUE(service_.start());
    usePort(service_.port());
    // The agreed state before the fault: both sides and the cache hold
    // "both" and "gone"; then each side deletes "gone" and gains one
    // bookmark of its own.
    putAtService({"both"});
    ASSERT_EQ(sync(listDocument({"both", "gone"})).error, "");
    putAtService({"both", "server"});
    cacheBefore_ = readText(cachePath());
    ASSERT_EQ(names(cacheBefore_), (Names{"both", "gone"}));
  }
  void TearDown() override {
    platform::clearFaults();
    engine_.reset();
  }

  // Rewrites the settings with the port (the engine is unloaded first).
  void usePort(unsigned short port) {
    engine_.reset();
    corvex::ClientApp app("Explorer");
    app.server = "127.0.0.1/data";
    app.serverPort = port;
    app.username = kUser;
    app.password = kPassword;
  }
  testsupport::EngineLibrary& engine() {
    if (!engine_) {
      engine_ = std::make_unique<testsupport::EngineLibrary>(libraryDir_.path());
      EXPECT_TRUE(engine_->loaded()) << engine_->error();
    }
    return *engine_;
  }
  struct Result {
    std::string data;
    std::string error;
  };
  Result sync(const std::string& input) {
    Result result{input, "old error"};
    const bool ok = engine().synchronize(false, "Explorer", &result.data, &result.error);
    EXPECT_EQ(ok, result.error.empty());
    if (!ok) {
      EXPECT_EQ(result.data, input) << "a failed run must leave the host's list alone";
    }
    return result;
  }
  void putAtService(const Names& list) {
    platform::HttpSession session("test", platform::InternetAccess::Direct);
    platform::HttpConnection connection(session, "127.0.0.1", service_.port());
    platform::HttpRequest request(connection, "PUT", "/data?user=alice&pass=s3cret&function=put", 0);
    ASSERT_EQ(request.send(listDocument(list)), "");
    ASSERT_EQ(request.statusCode(), 200u);
  }
  std::string serviceList() {
    std::string out;
    EXPECT_EQ(testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export", kUser,
                                       "--database", service_.database().string()},
                                      "", &out),
              0);
    return out;
  }
  std::filesystem::path dataFolder() const { return prefix_.path() / "profile/AppData/Roaming/BookmarkPlugin"; }
  std::filesystem::path cachePath() const { return dataFolder() / "bookmarkscache_Explorer.xml"; }

  // The local list during and after the fault: the agreed list with the
  // "gone" bookmark deleted and a "local" one added.
  static std::string localList() { return listDocument({"both", "local"}); }

  // A failed run: its text, the cache as it was, the service unchanged.
  void expectFailedRun(const std::string& text) {
    const Result result = sync(localList());
    EXPECT_EQ(result.error, text);
    EXPECT_EQ(readText(cachePath()), cacheBefore_) << "a failed run wrote the cache";
    EXPECT_EQ(names(serviceList()), (Names{"both", "server"}));
  }
  // With the fault gone: the next run brings both sides together.
  // `local` is the host's list: the returned lists of earlier runs applied.
  // A run that finds both lists equal ends without writing the cache, so
  // after runs that could not write it the cache may still be the older one.
  void expectRecovery(const std::string& local = localList(), bool cacheMayBeOlder = false) {
    platform::clearFaults();
    usePort(service_.port());
    const Result result = sync(local);
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(names(serviceList()), (Names{"both", "local", "server"}));
    EXPECT_EQ(names(result.data.empty() ? local : result.data), (Names{"both", "local", "server"}));
    const Names cached = names(readText(cachePath()));
    if (!cacheMayBeOlder || cached != names(cacheBefore_)) {
      EXPECT_EQ(cached, (Names{"both", "local", "server"}));
    }
  }

  testsupport::TempPrefix prefix_;
  testsupport::NoProxyEnvironment noProxy_;
  testsupport::TempDir serviceDir_;
  testsupport::TempDir libraryDir_;
  testsupport::ServiceProcess service_{serviceDir_.path()};
  std::unique_ptr<testsupport::EngineLibrary> engine_;
  std::string cacheBefore_;
};

TEST_F(FaultEngineTest, ConnectionRefused) {
  usePort(closedPort());
  expectFailedRun(kCantConnect);
  expectRecovery();
}

TEST_F(FaultEngineTest, ConnectionResetInTheMiddleOfTheDownload) {
  BrokenFront front(BrokenFront::Mode::ResetInBody, service_.port());
  usePort(front.port());
  expectFailedRun(kCantConnect);
  expectRecovery();
}

TEST_F(FaultEngineTest, ServiceThatStalls) {
  testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "300");
  testsupport::SilentServer silent;
  usePort(silent.port());
  expectFailedRun(kCantConnect);
  expectRecovery();
}

TEST_F(FaultEngineTest, UploadCutOff) {
  BrokenFront front(BrokenFront::Mode::ResetPut, service_.port());
  usePort(front.port());
  expectFailedRun(kCantPut);
  EXPECT_EQ(front.puts(), 1);
  expectRecovery();
}

// The data folder fails (disk full, access denied) from the n-th write on (log lines first, then the
// folder check of the cache path): the run may miss its cache, and then
// merges as a first run, and may not write the new one; it still succeeds
// and loses no bookmark.
TEST_F(FaultEngineTest, DiskFullOrAccessDeniedInTheDataFolder) {
  std::string local = localList();
  struct Row {
    platform::Status status;
    unsigned passing;
  };
  for (const Row& row : {Row{platform::kDiskFull, 0}, Row{platform::kDiskFull, 1}, Row{platform::kAccessDenied, 3}}) {
    SCOPED_TRACE(std::to_string(row.status) + " after " + std::to_string(row.passing));
    platform::injectFault(platform::FaultSite::FileWrite, row.status, "BookmarkPlugin", row.passing);
    const Result result = sync(local);
    platform::clearFaults();
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(names(serviceList()), (Names{"both", "local", "server"}));
    if (!result.data.empty()) local = result.data;
  }
  expectRecovery(local, true);
}

// The cache alone cannot be saved (a full disk): the run succeeds, and the
// previous cache stays whole, byte for byte, with no temporary file beside
// it; the log tells.
TEST_F(FaultEngineTest, CacheThatCannotBeSavedStaysWhole) {
  platform::injectFault(platform::FaultSite::FileWrite, platform::kDiskFull, "bookmarkscache_Explorer.xml");
  const Result result = sync(localList());
  platform::clearFaults();
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(names(serviceList()), (Names{"both", "local", "server"}));
  EXPECT_EQ(readText(cachePath()), cacheBefore_);
  for (const auto& entry : std::filesystem::directory_iterator(dataFolder())) {
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
  }
  EXPECT_NE(readText(dataFolder() / "bookmarks.log")
                .find("Sychronization: the local cache could not be saved (could not write " + cachePath().string() +
                      " (error 112))"),
            std::string::npos);
  expectRecovery(result.data.empty() ? localList() : result.data, true);
}

// The settings file cannot be written at unload, nor, from the n-th write
// on, the registry: the next load still has a complete, valid set.
TEST_F(FaultEngineTest, SettingsStoresFailingAtUnload) {
  std::string local = localList();
  for (unsigned passing : {0u, 2u, 5u}) {
    SCOPED_TRACE(passing);
    engine();
    platform::injectFault(platform::FaultSite::RegistryWrite, platform::kAccessDenied, "", passing);
    platform::injectFault(platform::FaultSite::FileWrite, platform::kDiskFull, "bookmarks_Explorer.cfg");
    engine_.reset();
    platform::clearFaults();
    const Result result = sync(local);
    ASSERT_EQ(result.error, "");
    if (!result.data.empty()) local = result.data;
  }
  EXPECT_NE(readText(dataFolder() / "bookmarks.log").find("Erorr while saving application settings to "),
            std::string::npos);
  expectRecovery(local);
}

}  // namespace
