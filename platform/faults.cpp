#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/fault_points.h"

namespace platform {
namespace {

struct Fault {
  FaultSite site;
  Status status;
  std::string match;
  unsigned passing = 0;  // matching calls still to let through
  unsigned failing = kEveryCall;  // matching calls still to fail after those
};

// The code "kill": the matching call ends the process with SIGKILL instead
// of failing, as a power cut or a killed browser would end it there.
constexpr Status kKillProcess = 0xFFFFFFFF;

std::mutex g_mutex;
std::vector<Fault>* g_faults = nullptr;

bool siteFromName(const std::string& name, FaultSite* site) {
  if (name == "registry-read") *site = FaultSite::RegistryRead;
  else if (name == "registry-write") *site = FaultSite::RegistryWrite;
  else if (name == "file-read") *site = FaultSite::FileRead;
  else if (name == "file-write") *site = FaultSite::FileWrite;
  else if (name == "file-move") *site = FaultSite::FileMove;
  else return false;
  return true;
}

// Entries that do not parse are ignored.
std::vector<Fault> faultsFromText(const std::string& text) {
  std::vector<Fault> faults;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string entry = text.substr(start, end - start);
    start = end + 1;
    size_t equals = entry.find('=');
    if (equals == std::string::npos) continue;
    Fault fault;
    if (!siteFromName(entry.substr(0, equals), &fault.site)) continue;
    std::string rest = entry.substr(equals + 1);
    char* stop = nullptr;
    // A final "#digits" or "#digits:digits" is the count; any other "#"
    // belongs to the text.
    if (size_t hash = rest.rfind('#'); hash != std::string::npos && hash + 1 < rest.size() &&
                                       rest.find_first_not_of("0123456789:", hash + 1) == std::string::npos) {
      const std::string counts = rest.substr(hash + 1);
      const size_t colon = counts.find(':');
      if (colon == 0 || colon + 1 == counts.size() || counts.find(':', colon + 1) != std::string::npos) continue;
      fault.passing = static_cast<unsigned>(std::strtoul(counts.c_str(), nullptr, 10));
      if (colon != std::string::npos) {
        fault.failing = static_cast<unsigned>(std::strtoul(counts.c_str() + colon + 1, nullptr, 10));
      }
      rest.resize(hash);
    }
    size_t at = rest.find('@');
    if (at != std::string::npos) fault.match = rest.substr(at + 1);
    std::string code = rest.substr(0, at);
    if (code == "kill") {
      fault.status = kKillProcess;
      faults.push_back(fault);
      continue;
    }
    unsigned long number = std::strtoul(code.c_str(), &stop, 0);
    if (code.empty() || *stop != '\0' || number == 0) continue;
    fault.status = static_cast<Status>(number);
    faults.push_back(fault);
  }
  return faults;
}

// The faults of QUORVANE_FAULTS with their counts, parsed again (counts
// started afresh) whenever the variable changes.
std::string* g_environmentText = nullptr;
std::vector<Fault>* g_environmentFaults = nullptr;

std::vector<Fault>& environmentFaults() {
  if (!g_environmentText) {
    g_environmentText = new std::string;
    g_environmentFaults = new std::vector<Fault>;
  }
  const char* value = std::getenv("QUORVANE_FAULTS");
  const std::string text = value ? value : "";
  if (text != *g_environmentText) {
    *g_environmentText = text;
    *g_environmentFaults = faultsFromText(text);
  }
  return *g_environmentFaults;
}

// The status of the first fault that matches and has no passes left;
// matching faults with passes left use one up.
Status firstMatch(std::vector<Fault>& faults, FaultSite site, const std::string& subject) {
  for (Fault& fault : faults) {
    if (fault.site != site || (!fault.match.empty() && subject.find(fault.match) == std::string::npos)) {
      continue;
    }
    if (fault.passing > 0) {
      --fault.passing;
      continue;
    }
    if (fault.failing == 0) continue;
    if (fault.failing != kEveryCall) --fault.failing;
    return fault.status;
  }
  return kOk;
}

}  // namespace

void injectFault(FaultSite site, Status status, const std::string& pathContains, unsigned passing,
                 unsigned failing) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_faults) g_faults = new std::vector<Fault>;
  if (status != kOk) g_faults->push_back(Fault{site, status, pathContains, passing, failing});
}

void clearFaults() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_faults) g_faults->clear();
}

Status injectedFault(FaultSite site, const std::string& subject) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_faults) {
    if (Status status = firstMatch(*g_faults, site, subject); status != kOk) return status;
  }
  const Status status = firstMatch(environmentFaults(), site, subject);
  if (status == kKillProcess) ::kill(::getpid(), SIGKILL);
  return status;
}

}  // namespace platform
