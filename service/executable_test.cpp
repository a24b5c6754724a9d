// The quorvane-service program itself: administration commands, the port
// line for port 0, the request log and a clean stop on SIGTERM.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "service/testing/test_service.h"
#include "tests/support/temp_prefix.h"

extern char** environ;

namespace service {
namespace {

using testing::fetch;

// A child process with its standard input fed from `input` and its output
// and error sent to files.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::filesystem::path& out,
        const std::filesystem::path& err, const std::string& input = {}) {
    int in[2];
    if (pipe(in) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    if (!input.empty()) (void)!write(in[1], input.data(), input.size());
    close(in[1]);
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // The exit status, or -1 when the process did not end normally in time.
  int wait(std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Executable : public ::testing::Test {
 protected:
  int run(const std::vector<std::string>& args, const std::string& input = {}) {
    std::vector<std::string> all = {QUORVANE_SERVICE_BIN};
    all.insert(all.end(), args.begin(), args.end());
    all.insert(all.end(), {"--database", db().string()});
    Child child(all, out(), err(), input);
    return child.wait();
  }
  std::filesystem::path db() const { return dir.path() / "accounts.db"; }
  std::filesystem::path out() const { return dir.path() / "out.txt"; }
  std::filesystem::path err() const { return dir.path() / "err.txt"; }
  testsupport::TempDir dir;
};

TEST_F(Executable, AdministrationCommands) {
  EXPECT_EQ(run({"adduser", "gina"}, "pass word\n"), 0) << readFile(err());
  EXPECT_EQ(run({"adduser", "gina"}, "other\n"), 1);
  EXPECT_NE(readFile(err()).find("exists already"), std::string::npos);
  EXPECT_EQ(run({"export", "gina"}), 0);
  std::string document = readFile(out());
  EXPECT_EQ(document.rfind("<?xml", 0), 0u) << document;
  EXPECT_NE(document.find("type=\"full\""), std::string::npos);
  EXPECT_EQ(run({"deluser", "gina"}), 0);
  EXPECT_EQ(run({"deluser", "gina"}), 1);
  EXPECT_EQ(run({"export", "gina"}), 1);
  EXPECT_EQ(run({"frobnicate", "gina"}), 2);
  EXPECT_EQ(run({"--help"}), 0);
  for (const char* word : {"--listen ADDRESS:PORT", "history NAME", "restore NAME NUMBER",
                           "--history N", "--max-list-mib N"}) {
    EXPECT_NE(readFile(out()).find(word), std::string::npos) << word;
  }
  EXPECT_EQ(run({"restore", "gina"}), 2);
  EXPECT_EQ(run({"--history", "x"}), 2);
}

TEST_F(Executable, OnlyServingAndAdduserCreateADatabase) {
  for (const std::vector<std::string>& command : {std::vector<std::string>{"deluser", "gina"},
                                                  {"export", "gina"},
                                                  {"history", "gina"},
                                                  {"restore", "gina", "1"}}) {
    SCOPED_TRACE(command[0]);
    EXPECT_EQ(run(command), 1);
    EXPECT_NE(readFile(err()).find("there is no database " + db().string()), std::string::npos)
        << readFile(err());
    EXPECT_FALSE(std::filesystem::exists(db()));
  }
  EXPECT_EQ(run({"adduser", "gina"}, "pw\n"), 0);
  EXPECT_TRUE(std::filesystem::exists(db()));
}

TEST_F(Executable, HistoryAndRestoreOfAServedAccount) {
  ASSERT_EQ(run({"adduser", "jo"}, "pw\n"), 0);
  const auto serviceOut = dir.path() / "service-out.txt";
  Child service({QUORVANE_SERVICE_BIN, "--listen", "127.0.0.1:0", "--database", db().string(),
                 "--history", "2", "--quiet"},
                serviceOut, dir.path() / "service-err.txt");
  std::string line;
  for (int i = 0; i < 500 && line.find('\n') == std::string::npos; ++i) {
    usleep(10000);
    line = readFile(serviceOut);
  }
  ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
  const std::string url = "http://127.0.0.1:" +
                          line.substr(line.rfind(':') + 1, line.find('\n') - line.rfind(':') - 1) +
                          "/data?user=jo&pass=pw&function=";
  const char* lists[] = {"<bookmark><name>a</name></bookmark>",
                         "<bookmark><name>a</name></bookmark><bookmark><name>b</name></bookmark>",
                         ""};
  for (const char* items : lists) {
    ASSERT_EQ(fetch("PUT", url + "put", std::string("<bookmarks>") + items + "</bookmarks>").status,
              200);
  }
  // --history 2: the two lists before the last upload.
  ASSERT_EQ(run({"history", "jo"}), 0) << readFile(err());
  std::string table = readFile(out());
  std::istringstream rows(table);
  std::vector<std::string> firstWords;
  for (std::string row, word; std::getline(rows, row);) {
    std::istringstream(row) >> word;
    firstWords.push_back(word);
  }
  EXPECT_EQ(firstWords, (std::vector<std::string>{"version", "current", "3", "2", "Make"}))
      << table;
  EXPECT_NE(table.find("        2  "), std::string::npos) << table;  // version 3 had two items

  ASSERT_EQ(run({"restore", "jo", "3"}), 0) << readFile(err());
  EXPECT_NE(readFile(out()).find("Version 3 of jo is the current list now"), std::string::npos);
  auto r = fetch("GET", url + "get");
  EXPECT_NE(r.body.find("<name>b</name>"), std::string::npos) << r.body;
  EXPECT_EQ(run({"restore", "jo", "1"}), 1);
  EXPECT_NE(readFile(err()).find("has no version 1"), std::string::npos) << readFile(err());
  EXPECT_EQ(run({"history", "nobody"}), 1);
  EXPECT_NE(readFile(err()).find("there is no user nobody"), std::string::npos);
}

TEST_F(Executable, ServesOnTheAnnouncedPortLogsWithoutPasswordsAndStopsOnSigterm) {
  ASSERT_EQ(run({"adduser", "hank"}, "Sesame-Pw\n"), 0);
  const auto serviceOut = dir.path() / "service-out.txt";
  const auto serviceErr = dir.path() / "service-err.txt";
  Child service({QUORVANE_SERVICE_BIN, "--listen", "127.0.0.1:0", "--database", db().string()},
                serviceOut, serviceErr);
  ASSERT_GT(service.pid(), 0);
  std::string line;
  for (int i = 0; i < 500 && line.find('\n') == std::string::npos; ++i) {
    usleep(10000);
    line = readFile(serviceOut);
  }
  ASSERT_EQ(line.rfind("listening on 127.0.0.1:", 0), 0u) << line;
  int port = std::stoi(line.substr(line.rfind(':') + 1));
  ASSERT_GT(port, 0);
  std::string base = "http://127.0.0.1:" + std::to_string(port);

  auto r = fetch("GET", base + "/data?user=hank&pass=Sesame-Pw&function=get");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.rfind("<?xml", 0), 0u);
  EXPECT_EQ(fetch("GET", base + "/data?user=hank&pass=nope&function=get").status, 401);
  // The database is shared with the administration commands while it serves.
  ASSERT_EQ(run({"adduser", "ida"}, "second\n"), 0) << readFile(err());
  EXPECT_EQ(fetch("GET", base + "/data?user=ida&pass=second&function=get").status, 200);

  ASSERT_EQ(kill(service.pid(), SIGTERM), 0);
  EXPECT_EQ(service.wait(), 0);
  std::string log = readFile(serviceErr);
  EXPECT_NE(log.find("GET /data 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("GET /data 401 "), std::string::npos) << log;
  EXPECT_EQ(log.find("Sesame"), std::string::npos) << log;
  EXPECT_EQ(log.find("nope"), std::string::npos) << log;
}

}  // namespace
}  // namespace service
