#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

// LeakSanitizer: libpacparser 1.3 keeps the escaped copy of every URL it is
// asked about (a few dozen bytes per automatic proxy lookup). Every test
// program links this file.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() { return "leak:pacparser_find_proxy\n"; }

namespace testsupport {
namespace {

struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int release() {
    const int f = fd;
    fd = -1;
    return f;
  }
};

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  for (const std::string& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Spawns with the given descriptors as stdin and stdout (-1: /dev/null).
pid_t spawn(const std::vector<std::string>& argv, int in, int out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) {
    posix_spawn_file_actions_adddup2(&actions, in, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  std::vector<char*> args = argvPointers(argv);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int waitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  stop();
  if (out_ >= 0) ::close(out_);
}

bool ChildProcess::start(const std::vector<std::string>& argv) {
  if (argv.empty() || pid_ > 0) return false;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  Fd readEnd(fds[0]);
  Fd writeEnd(fds[1]);
  pid_ = spawn(argv, -1, writeEnd.fd);
  if (pid_ <= 0) return false;
  out_ = readEnd.release();
  return true;
}

bool ChildProcess::readLine(std::string* line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t newline = buffered_.find('\n');
    if (newline != std::string::npos) {
      *line = buffered_.substr(0, newline);
      buffered_.erase(0, newline + 1);
      return true;
    }
    if (out_ < 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char chunk[4096];
    const ssize_t got = ::read(out_, chunk, sizeof chunk);
    if (got <= 0) {
      ::close(out_);
      out_ = -1;
      if (buffered_.empty()) return false;
      *line = buffered_;
      buffered_.clear();
      return true;
    }
    buffered_.append(chunk, static_cast<size_t>(got));
  }
}

int ChildProcess::stop() {
  if (pid_ <= 0) return -1;
  const pid_t pid = pid_;
  pid_ = -1;
  ::kill(pid, SIGTERM);
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 && errno != EINTR) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  return waitExit(pid);
}

int runProgram(const std::vector<std::string>& argv, const std::string& input, std::string* output) {
  if (argv.empty()) return -1;
  int inFds[2];
  int outFds[2];
  if (pipe2(inFds, O_CLOEXEC) != 0) return -1;
  Fd inRead(inFds[0]);
  Fd inWrite(inFds[1]);
  if (pipe2(outFds, O_CLOEXEC) != 0) return -1;
  Fd outRead(outFds[0]);
  Fd outWrite(outFds[1]);
  const pid_t pid = spawn(argv, inRead.fd, outWrite.fd);
  if (pid <= 0) return -1;
  ::close(inRead.release());
  ::close(outWrite.release());
  // Small inputs only: the pipe buffer holds them, so writing cannot block on
  // a child that is busy writing its own output.
  signal(SIGPIPE, SIG_IGN);
  size_t written = 0;
  while (written < input.size()) {
    const ssize_t n = ::write(inWrite.fd, input.data() + written, input.size() - written);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  ::close(inWrite.release());
  std::string collected;
  char chunk[4096];
  for (;;) {
    const ssize_t got = ::read(outRead.fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    collected.append(chunk, static_cast<size_t>(got));
  }
  if (output) *output = collected;
  return waitExit(pid);
}

unsigned short freeLoopbackPort() {
  Fd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (sock.fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (bind(sock.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 0;
  socklen_t len = sizeof addr;
  if (getsockname(sock.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

bool waitForPort(unsigned short port, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    Fd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(sock.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::filesystem::path binaryDir() { return QUORVANE_BIN_DIR; }

}  // namespace testsupport
