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
};

std::mutex g_mutex;
std::vector<Fault>* g_faults = nullptr;

bool siteFromName(const std::string& name, FaultSite* site) {
  if (name == "registry-read") *site = FaultSite::RegistryRead;
  else if (name == "registry-write") *site = FaultSite::RegistryWrite;
  else if (name == "file-read") *site = FaultSite::FileRead;
  else if (name == "file-write") *site = FaultSite::FileWrite;
  else return false;
  return true;
}

// Entries that do not parse are ignored.
std::vector<Fault> faultsFromEnvironment() {
  std::vector<Fault> faults;
  const char* value = std::getenv("QUORVANE_FAULTS");
  if (!value || !*value) return faults;
  std::string text = value;
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
    size_t at = rest.find('@');
    if (at != std::string::npos) fault.match = rest.substr(at + 1);
    char* stop = nullptr;
    std::string code = rest.substr(0, at);
    unsigned long number = std::strtoul(code.c_str(), &stop, 0);
    if (code.empty() || *stop != '\0' || number == 0) continue;
    fault.status = static_cast<Status>(number);
    faults.push_back(fault);
  }
  return faults;
}

Status firstMatch(const std::vector<Fault>& faults, FaultSite site, const std::string& subject) {
  for (const Fault& fault : faults) {
    if (fault.site == site && (fault.match.empty() || subject.find(fault.match) != std::string::npos)) {
      return fault.status;
    }
  }
  return kOk;
}

}  // namespace

void injectFault(FaultSite site, Status status, const std::string& pathContains, unsigned passing) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_faults) g_faults = new std::vector<Fault>;
  if (status != kOk) g_faults->push_back(Fault{site, status, pathContains, passing});
}

void clearFaults() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_faults) g_faults->clear();
}

Status injectedFault(FaultSite site, const std::string& subject) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_faults) {
      for (Fault& fault : *g_faults) {
        if (fault.site != site || (!fault.match.empty() && subject.find(fault.match) == std::string::npos)) {
          continue;
        }
        if (fault.passing == 0) return fault.status;
        --fault.passing;
      }
    }
  }
  return firstMatch(faultsFromEnvironment(), site, subject);
}

}  // namespace platform
