#include "tests/support/service_process.h"

namespace testsupport {
namespace {

std::string serviceProgram() { return (binaryDir() / "quorvane-service").string(); }

}  // namespace

ServiceProcess::ServiceProcess(const std::filesystem::path& folder)
    : database_(folder / "service.db") {}

ServiceProcess::~ServiceProcess() { stop(); }

bool ServiceProcess::addUser(const std::string& name, const std::string& password) {
  return runProgram({serviceProgram(), "adduser", name, "--database", database_.string()},
                    password + "\n") == 0;
}

bool ServiceProcess::start(unsigned short port) {
  const std::string listen = "127.0.0.1:" + std::to_string(port);
  if (!process_.start({serviceProgram(), "--listen", listen, "--database", database_.string()})) {
    return false;
  }
  // The first line names the port: "listening on 127.0.0.1:PORT".
  std::string line;
  while (process_.readLine(&line)) {
    const std::string marker = "listening on 127.0.0.1:";
    const size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    port_ = static_cast<unsigned short>(std::stoul(line.substr(at + marker.size())));
    return port_ != 0;
  }
  process_.stop();
  return false;
}

void ServiceProcess::stop() { process_.stop(); }

}  // namespace testsupport
