// Driving the browser stand-in in a prefix of its own, as a user would on one
// computer: write the engine's settings file and the Favorites, register the
// plug-in with regsvr32, run iexplore.exe on a script (or interactively, line
// by line) and read the lines it prints, query the registry with reg.
//
// Every program runs with QUORVANE_PREFIX pointing at the computer's folder,
// without the caller's proxy settings, and by default with the virtual clock
// and the script UI backend (QUORVANE_UI=script:/dev/null), so that nothing
// waits for real time and message boxes get their default answers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_prefix.h"

namespace testsupport {

// The engine's settings of the application "Explorer", as its settings
// file holds them.
struct PluginSettings {
  std::string server = "127.0.0.1/data";
  unsigned port = 80;
  std::string username = "username";
  std::string password;
  int enabled = 1;
  int syncAuto = 1;
  int syncPeriod = 15;
  int syncAfterStart = 0;
  int syncBeforeExit = 0;
  int errorIcon = 1;
};

// What a program printed, line by line, and how it ended.
struct HostRun {
  int exitCode = -1;
  std::vector<std::string> lines;

  // Lines containing the text.
  size_t count(const std::string& text) const;
  bool has(const std::string& text) const { return count(text) > 0; }
  // The lines containing any of the texts, in order (the user's view of a
  // session without the engine's log).
  std::vector<std::string> grep(const std::vector<std::string>& texts) const;
  std::string joined() const;
};

// Environment additions for one program: name -> value.
using Environment = std::map<std::string, std::string>;

class HostComputer {
 public:
  HostComputer();
  const std::filesystem::path& prefix() const { return folder_.path(); }

  // prefix/profile/Favorites and the per-user data folder
  // AppData/Roaming/BookmarkPlugin (both created).
  std::filesystem::path favorites() const;
  std::filesystem::path dataFolder() const;

  // Writes bookmarks_Explorer.cfg with scrambled credentials.
  void writeSettings(const PluginSettings& settings) const;
  // A shortcut file below the Favorites folder ("News/Daily" gets ".url").
  void writeShortcut(const std::string& relativeName, const std::string& url) const;
  // The names below the Favorites folder, "News/", "News/Daily.url", sorted.
  std::vector<std::string> favoriteNames() const;

  // regsvr32 [/u] LIBRARY (the built libBookmark.so by default).
  HostRun registerPlugin(bool unregister = false, const std::filesystem::path& library = {}) const;
  // reg with the arguments.
  HostRun reg(const std::vector<std::string>& arguments) const;
  // "lastsync" of the plug-in key, or -1 when it is not there.
  long lastSync() const;

  // Runs the host on the script (one command per line) to its end.
  // `executable` other than "iexplore.exe" runs a copy of the binary under
  // that name ("another host").
  HostRun runHost(const std::string& script, const Environment& extra = {},
                  const std::string& executable = "iexplore.exe") const;

  // The command line (through /usr/bin/env) that runs a program of build/bin
  // in this computer's environment.
  std::vector<std::string> commandLine(const std::filesystem::path& program, const Environment& extra) const;
  std::filesystem::path hostExecutable(const std::string& name) const;

 private:
  TempDir folder_;
};

// An iexplore.exe that reads its commands from a pipe, for sessions where
// several processes take turns. A thread of its own reads the output all
// the time, so that a talkative host never blocks on a full pipe.
class HostProcess {
 public:
  HostProcess() = default;
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool start(const HostComputer& computer, const Environment& extra = {},
             const std::string& executable = "iexplore.exe");
  // Sends one command line.
  bool send(const std::string& line);
  // Waits until a line not yet waited past contains the text (true), or the
  // time-out passes or the output ends (false).
  bool waitFor(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Closes the input (the host quits) and waits for the end: the exit status.
  int finish(std::chrono::milliseconds timeout = std::chrono::seconds(120));
  // SIGKILL, as a power cut would end it.
  void kill();
  pid_t pid() const { return pid_; }
  // Everything printed so far.
  HostRun output() const;

 private:
  void readOutput(int fd);
  void joinReader();
  pid_t pid_ = -1;
  int in_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool ended_ = false;
  size_t waitedPast_ = 0;
  HostRun output_;
};

}  // namespace testsupport
