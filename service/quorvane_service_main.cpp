// quorvane-service: the reference bookmark service, and its administration.
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/admin.h"
#include "service/http_server.h"
#include "service/sqlite_storage.h"

namespace {

const char kUsage[] =
    "Usage:\n"
    "  quorvane-service [--listen ADDRESS:PORT] [--database FILE] [--path PATH] [--threads N]\n"
    "                   [--history N] [--max-list-mib N] [--quiet]\n"
    "  quorvane-service adduser NAME [--database FILE]   (password from standard input)\n"
    "  quorvane-service deluser NAME [--database FILE]   (the list and its versions too)\n"
    "  quorvane-service export NAME [--database FILE]    (prints the stored list)\n"
    "  quorvane-service history NAME [--database FILE]   (the list and its earlier versions)\n"
    "  quorvane-service restore NAME NUMBER [--database FILE]\n"
    "                         makes version NUMBER of history the current list, under a new\n"
    "                         time stamp; every computer receives it at its next run\n"
    "\n"
    "Serves the bookmark protocol on PATH and the sign-up page /registration.jsp. Every\n"
    "upload, removal and restore keeps the list it replaces as a version. An upload that\n"
    "names the version it was built from (\"timestamp\") is refused with 409 when the\n"
    "stored list has changed since.\n"
    "\n"
    "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8080); port 0 takes a\n"
    "                         free port. The first line on standard output is always\n"
    "                         \"listening on ADDRESS:PORT\" with the bound port.\n"
    "  --database FILE        the SQLite database (default quorvane-service.db); serving\n"
    "                         and adduser create it when missing, the other commands\n"
    "                         refuse a missing file\n"
    "  --path PATH            the path of the protocol requests (default /data)\n"
    "  --threads N            requests served at once (default 32)\n"
    "  --history N            earlier versions kept per account (default 50; 0 keeps\n"
    "                         none); an upload deletes the oldest beyond N, a restore\n"
    "                         deletes none\n"
    "  --max-list-mib N       the largest list accepted, in MiB (default 64); larger\n"
    "                         uploads get 413, and so do lists of more than 300000 items\n"
    "  --quiet                no request log on standard error\n"
    "  --help                 this text\n"
    "\n"
    "SIGINT or SIGTERM stops the service after the running requests.\n";

bool parseCount(const std::string& text, long long low, long long high, long long& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low && out <= high;
}

int usageError(const std::string& message) {
  std::cerr << "quorvane-service: " << message << "\n(see quorvane-service --help)\n";
  return 2;
}

bool parseListen(const std::string& text, std::string& host, int& port) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  std::string digits = text.substr(colon + 1);
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  return ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() &&
         port >= 0 && port <= 65535;
}

std::mutex gLogMutex;

void logLine(const std::string& line) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::string text = std::string(stamp) + " " + line + "\n";
  std::lock_guard lock(gLogMutex);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

int serve(service::Storage& storage, service::ServerOptions options) {
  // Blocked before any thread starts, so that every thread inherits the
  // mask and the signals are taken only by sigwait below.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  service::PasswordChecker passwords;
  service::Server server(storage, passwords, options);
  if (std::string error = server.start(); !error.empty()) {
    std::cerr << "quorvane-service: " << error << "\n";
    return 1;
  }
  bool v6 = options.host.find(':') != std::string::npos;
  std::printf("listening on %s%s%s:%d\n", v6 ? "[" : "", options.host.c_str(), v6 ? "]" : "",
              server.port());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  if (options.log)
    logLine(std::string("stopping on ") + (received == SIGINT ? "SIGINT" : "SIGTERM"));
  server.stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string database = "quorvane-service.db";
  service::ServerOptions options;
  service::SqliteOptions storageOptions;
  options.log = logLine;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--listen") {
      if (!value(v) || !parseListen(v, options.host, options.port)) {
        return usageError("--listen needs ADDRESS:PORT");
      }
    } else if (a == "--database") {
      if (!value(database)) return usageError("--database needs a file");
    } else if (a == "--path") {
      if (!value(v) || v.empty() || v[0] != '/')
        return usageError("--path needs a path starting with /");
      options.dataPath = v;
    } else if (a == "--threads") {
      int n = 0;
      if (!value(v) || std::from_chars(v.data(), v.data() + v.size(), n).ec != std::errc() ||
          n < 1 || n > 1024) {
        return usageError("--threads needs a number from 1 to 1024");
      }
      options.threads = n;
    } else if (a == "--history") {
      long long n = 0;
      if (!value(v) || !parseCount(v, 0, 100000, n)) {
        return usageError("--history needs a number from 0 to 100000");
      }
      storageOptions.historyLimit = n;
    } else if (a == "--max-list-mib") {
      long long n = 0;
      if (!value(v) || !parseCount(v, 1, 1024, n)) {
        return usageError("--max-list-mib needs a number from 1 to 1024");
      }
      options.maxBodyBytes = static_cast<std::size_t>(n) << 20;
    } else if (a == "--quiet") {
      options.log = nullptr;
    } else if (!a.empty() && a[0] == '-') {
      return usageError("unknown option " + a);
    } else {
      words.push_back(a);
    }
  }

  const std::vector<std::string> commands = {"adduser", "deluser", "export", "history", "restore"};
  if (!words.empty() && std::find(commands.begin(), commands.end(), words[0]) == commands.end()) {
    return usageError("unknown command " + words[0]);
  }
  if (!words.empty() && words[0] == "restore") {
    if (words.size() != 3) return usageError("restore needs NAME and NUMBER");
  } else if (!words.empty() && words.size() != 2) {
    return usageError(words[0] + " needs one NAME");
  }

  // Only serving and adduser may start a new database: for the others a
  // missing file is a mistyped path.
  storageOptions.create = words.empty() || words[0] == "adduser";
  std::unique_ptr<service::SqliteStorage> storage;
  if (std::string error = service::SqliteStorage::open(database, storage, storageOptions);
      !error.empty()) {
    std::cerr << "quorvane-service: " << error << "\n";
    return 1;
  }
  if (words.empty()) return serve(*storage, options);

  const std::string& command = words[0];
  const std::string& name = words[1];
  std::string error;
  if (command == "adduser") {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    error =
        service::addUser(*storage, name, password, static_cast<std::int64_t>(std::time(nullptr)));
  } else if (command == "deluser") {
    error = service::deleteUser(*storage, name);
  } else if (command == "history") {
    std::string table;
    error = service::showHistory(*storage, name, table);
    if (error.empty()) std::cout << table;
  } else if (command == "restore") {
    std::string message;
    error = service::restoreList(*storage, name, words[2],
                                 static_cast<std::int64_t>(std::time(nullptr)), message);
    if (error.empty()) std::cout << message;
  } else {
    std::string document;
    error = service::exportList(*storage, name, document);
    if (error.empty()) std::cout << document;
  }
  if (!error.empty()) {
    std::cerr << "quorvane-service: " << error << "\n";
    return 1;
  }
  return 0;
}
