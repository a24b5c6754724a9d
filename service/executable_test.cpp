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
  EXPECT_NE(readFile(out()).find("--listen ADDRESS:PORT"), std::string::npos);
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
