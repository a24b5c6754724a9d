// Child processes for tests: start a program with its standard output on a
// pipe, read its lines, and end it. The destructor ends a process still
// running (SIGTERM, then SIGKILL) and reaps it, so a test leaves nothing
// running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path) with the arguments; its standard input is
  // /dev/null, standard error goes to the test's. False when it cannot start.
  bool start(const std::vector<std::string>& argv);

  // The next line of its standard output (without the line break); false at
  // end of output or when none comes within the time-out.
  bool readLine(std::string* line, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // Sends SIGTERM and waits (SIGKILL after 5 seconds); the exit status, or -1.
  int stop();
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// Runs a program to its end with the text on its standard input; *output
// (may be null) receives its standard output. The exit status, or -1.
int runProgram(const std::vector<std::string>& argv, const std::string& input,
               std::string* output = nullptr);

// A TCP port on 127.0.0.1 that was free a moment ago.
unsigned short freeLoopbackPort();

// True once something accepts connections on 127.0.0.1:port (polls until the
// time-out).
bool waitForPort(unsigned short port, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The folder of the project's built programs and libraries (build/bin).
std::filesystem::path binaryDir();

}  // namespace testsupport
