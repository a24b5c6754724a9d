#include "tests/support/host_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/scramble.h"
#include "tests/support/child_process.h"

extern char** environ;

namespace testsupport {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

int waitExit(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

size_t HostRun::count(const std::string& text) const {
  return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(text) != std::string::npos;
  }));
}

std::vector<std::string> HostRun::grep(const std::vector<std::string>& texts) const {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    for (const std::string& text : texts) {
      if (line.find(text) != std::string::npos) {
        found.push_back(line);
        break;
      }
    }
  }
  return found;
}

std::string HostRun::joined() const {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

HostComputer::HostComputer() {
  std::filesystem::create_directories(favorites());
  std::filesystem::create_directories(dataFolder());
  // Icon files go into the computer's folder, not beside the built library.
  std::filesystem::create_directories(prefix() / "icons");
  writeFile(dataFolder() / "bookmarks_Explorer2.cfg", "icons_folder=" + (prefix() / "icons").string() + "\r\n");
}

std::filesystem::path HostComputer::favorites() const { return prefix() / "profile" / "Favorites"; }

std::filesystem::path HostComputer::dataFolder() const {
  return prefix() / "profile" / "AppData" / "Roaming" / "BookmarkPlugin";
}

void HostComputer::writeSettings(const PluginSettings& s) const {
  auto line = [](const std::string& key, const std::string& value) { return key + "=" + value + "\r\n"; };
  std::string text = line("enabled", std::to_string(s.enabled)) + line("server", s.server) +
                     line("server.port", std::to_string(s.port));
  if (!s.username.empty()) text += line("username", corvex::scrambleCredential(s.username));
  if (!s.password.empty()) text += line("password", corvex::scrambleCredential(s.password));
  text += line("sync.auto", std::to_string(s.syncAuto)) + line("sync.period", std::to_string(s.syncPeriod)) +
          line("sync.afterstart", std::to_string(s.syncAfterStart)) +
          line("sync.beforeexit", std::to_string(s.syncBeforeExit)) + line("proxy.auth", "0") +
          line("erroricon", std::to_string(s.errorIcon));
  writeFile(dataFolder() / "bookmarks_Explorer.cfg", text);
}

void HostComputer::writeShortcut(const std::string& relativeName, const std::string& url) const {
  writeFile(favorites() / (relativeName + ".url"), "[InternetShortcut]\r\nURL=" + url + "\r\n");
}

std::vector<std::string> HostComputer::favoriteNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(favorites(), ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::string name = std::filesystem::relative(it->path(), favorites()).generic_string();
    if (it->is_directory()) name += "/";
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> HostComputer::commandLine(const std::filesystem::path& program,
                                                   const Environment& extra) const {
  std::vector<std::string> argv = {"/usr/bin/env",  "-u", "http_proxy", "-u", "HTTP_PROXY", "-u",
                                   "no_proxy",      "-u", "NO_PROXY",   "-u", "QUORVANE_PROXY_PAC_URL",
                                   "-u",            "QUORVANE_PROXY_AUTODETECT", "-u", "QUORVANE_FAULTS"};
  Environment environment = {{"QUORVANE_PREFIX", prefix().string()},
                             {"QUORVANE_CLOCK", "virtual"},
                             {"QUORVANE_UI", "script:/dev/null"},
                             {"LSAN_OPTIONS", std::string("suppressions=") + HOST_LSAN_SUPPRESSIONS}};
  // Under the sanitizers, full stacks, so that allocations of the load and
  // unload hooks are recognised (see host_lsan.supp).
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment["ASAN_OPTIONS"] = std::string(asan ? asan : "") + (asan && *asan ? ":" : "") + "fast_unwind_on_malloc=0";
  for (const auto& [name, value] : extra) environment[name] = value;
  for (const auto& [name, value] : environment) argv.push_back(name + "=" + value);
  argv.push_back(program.string());
  return argv;
}

std::filesystem::path HostComputer::hostExecutable(const std::string& name) const {
  const std::filesystem::path built = binaryDir() / "iexplore.exe";
  if (name == "iexplore.exe") return built;
  const std::filesystem::path copy = prefix() / "bin" / name;
  std::filesystem::create_directories(copy.parent_path());
  std::filesystem::copy_file(built, copy, std::filesystem::copy_options::overwrite_existing);
  return copy;
}

HostRun HostComputer::registerPlugin(bool unregister, const std::filesystem::path& library) const {
  std::vector<std::string> argv = commandLine(binaryDir() / "regsvr32", {});
  if (unregister) argv.push_back("/u");
  argv.push_back((library.empty() ? binaryDir() / "libBookmark.so" : library).string());
  std::string output;
  HostRun run;
  run.exitCode = runProgram(argv, "", &output);
  run.lines = splitLines(output);
  return run;
}

HostRun HostComputer::reg(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argv = commandLine(binaryDir() / "reg", {});
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string output;
  HostRun run;
  run.exitCode = runProgram(argv, "", &output);
  run.lines = splitLines(output);
  return run;
}

long HostComputer::lastSync() const {
  HostRun run = reg({"query", "HKCU\\Software\\Veltrane Inc.\\Quorvane\\Explorer", "/v", "lastsync"});
  if (run.exitCode != 0) return -1;
  for (const std::string& line : run.lines) {
    size_t at = line.find("REG_DWORD");
    if (at != std::string::npos) return std::stol(line.substr(line.find("0x", at)), nullptr, 16);
  }
  return -1;
}

HostRun HostComputer::runHost(const std::string& script, const Environment& extra,
                              const std::string& executable) const {
  std::string output;
  HostRun run;
  run.exitCode = runProgram(commandLine(hostExecutable(executable), extra), script, &output);
  run.lines = splitLines(output);
  return run;
}

HostProcess::~HostProcess() {
  kill();
  if (in_ >= 0) ::close(in_);
  joinReader();
}

bool HostProcess::start(const HostComputer& computer, const Environment& extra, const std::string& executable) {
  if (pid_ > 0) return false;
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0) return false;
  if (pipe2(output, O_CLOEXEC) != 0) {
    ::close(input[0]);
    ::close(input[1]);
    return false;
  }
  std::vector<std::string> argv = computer.commandLine(computer.hostExecutable(executable), extra);
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  const int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(input[0]);
  ::close(output[1]);
  if (rc != 0) {
    pid_ = -1;
    ::close(input[1]);
    ::close(output[0]);
    return false;
  }
  in_ = input[1];
  reader_ = std::thread(&HostProcess::readOutput, this, output[0]);
  return true;
}

void HostProcess::readOutput(int fd) {
  std::string buffered;
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> hold(mutex_);
    if (got <= 0) {
      if (!buffered.empty()) output_.lines.push_back(buffered);
      ended_ = true;
      changed_.notify_all();
      break;
    }
    buffered.append(chunk, static_cast<size_t>(got));
    size_t start = 0;
    for (size_t newline; (newline = buffered.find('\n', start)) != std::string::npos; start = newline + 1) {
      output_.lines.push_back(buffered.substr(start, newline - start));
    }
    buffered.erase(0, start);
    changed_.notify_all();
  }
  ::close(fd);
}

void HostProcess::joinReader() {
  if (reader_.joinable()) reader_.join();
}

bool HostProcess::send(const std::string& line) {
  if (in_ < 0) return false;
  const std::string text = line + "\n";
  return ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

bool HostProcess::waitFor(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    for (; waitedPast_ < output_.lines.size(); ++waitedPast_) {
      if (output_.lines[waitedPast_].find(text) != std::string::npos) {
        ++waitedPast_;
        return true;
      }
    }
    if (ended_) return false;
    if (changed_.wait_until(hold, deadline) == std::cv_status::timeout) return false;
  }
}

HostRun HostProcess::output() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return output_;
}

int HostProcess::finish(std::chrono::milliseconds timeout) {
  if (in_ >= 0) {
    ::close(in_);
    in_ = -1;
  }
  if (pid_ <= 0) return output().exitCode;
  {
    std::unique_lock<std::mutex> hold(mutex_);
    changed_.wait_for(hold, timeout, [this] { return ended_; });
  }
  bool ended;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ended = ended_;
  }
  if (!ended) ::kill(pid_, SIGKILL);  // still talking after the time-out
  const int status = waitExit(pid_);
  pid_ = -1;
  joinReader();
  std::lock_guard<std::mutex> hold(mutex_);
  output_.exitCode = status;
  return status;
}

void HostProcess::kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitExit(pid_);
  pid_ = -1;
}

}  // namespace testsupport
