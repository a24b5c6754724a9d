// A child program for the engine's multi-process tests: started with pipes on
// its standard input and output, in the current environment (so in the test's
// prefix), and never left running after the test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace corvex::test {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
  }

  ~ChildProcess() {
    closeInput();
    wait();
    if (fromChild_ >= 0) close(fromChild_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }

  void send(const std::string& line) {
    std::string text = line + "\n";
    if (toChild_ >= 0 && write(toChild_, text.data(), text.size()) < 0) closeInput();
  }

  // The next line of output, without its line break; "<eof>" or "<timeout>".
  std::string readLine(int timeoutMs = 30000) {
    for (;;) {
      size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        output_ += line + "\n";
        return line;
      }
      pollfd pfd{fromChild_, POLLIN, 0};
      if (fromChild_ < 0 || poll(&pfd, 1, timeoutMs) <= 0) return "<timeout>";
      char chunk[4096];
      ssize_t n = read(fromChild_, chunk, sizeof chunk);
      if (n <= 0) return "<eof>";
      buffer_.append(chunk, static_cast<size_t>(n));
    }
  }

  // Sends a command to corvex-client and returns its answer (after "= ").
  std::string ask(const std::string& command) {
    send(command);
    for (;;) {
      std::string line = readLine();
      if (line == "<eof>" || line == "<timeout>") return line;
      if (line.rfind("= ", 0) == 0) return line.substr(2);
    }
  }

  void closeInput() {
    if (toChild_ >= 0) close(toChild_);
    toChild_ = -1;
  }

  // Waits for the end (killing the child after the timeout); its exit status,
  // or -1 when it did not exit normally.
  int wait(int timeoutMs = 60000) {
    if (pid_ <= 0) return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (done < 0) {
        pid_ = -1;
        return status_;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

  // Everything read so far plus the rest, once the child has ended.
  std::string allOutput() {
    for (std::string line = readLine(); line != "<eof>" && line != "<timeout>"; line = readLine()) {
    }
    return output_;
  }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  int status_ = -1;
  std::string buffer_;
  std::string output_;
};

}  // namespace corvex::test
