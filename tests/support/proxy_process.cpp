#include "tests/support/proxy_process.h"

#include <fstream>
#include <sstream>

namespace testsupport {

ProxyProcess::ProxyProcess(const std::filesystem::path& folder) : folder_(folder) {}

ProxyProcess::~ProxyProcess() { stop(); }

bool ProxyProcess::start(const std::string& user, const std::string& password) {
  port_ = freeLoopbackPort();
  if (port_ == 0) return false;
  const std::filesystem::path config = folder_ / "tinyproxy.conf";
  {
    std::ofstream out(config);
    out << "Port " << port_ << "\n"
        << "Listen 127.0.0.1\n"
        << "Timeout 60\n"
        << "LogFile \"" << (folder_ / "tinyproxy.log").string() << "\"\n"
        << "LogLevel Connect\n"
        << "MaxClients 20\n"
        << "Allow 127.0.0.1\n"
        << "DisableViaHeader Yes\n";
    if (!user.empty()) out << "BasicAuth " << user << " " << password << "\n";
    if (!out) return false;
  }
  if (!process_.start({"/usr/bin/tinyproxy", "-d", "-c", config.string()})) return false;
  return waitForPort(port_);
}

void ProxyProcess::stop() { process_.stop(); }

std::string ProxyProcess::hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::vector<std::string> ProxyProcess::requestLines() const {
  std::vector<std::string> lines;
  std::ifstream in(folder_ / "tinyproxy.log");
  std::string line;
  const std::string marker = "]: Request (file descriptor ";
  while (std::getline(in, line)) {
    const size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    const size_t colon = line.find("): ", at);
    if (colon != std::string::npos) lines.push_back(line.substr(colon + 3));
  }
  return lines;
}

}  // namespace testsupport
