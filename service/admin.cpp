#include "service/admin.h"

#include <charconv>
#include <cstdio>
#include <ctime>

#include "exchange/timestamp.h"
#include "service/documents.h"
#include "service/passwords.h"
#include "service/signup_page.h"

namespace service {

std::string addUser(Storage& storage, const std::string& name, const std::string& password,
                    std::int64_t now) {
  if (std::string problem = newAccountProblem(name, password, password); !problem.empty()) {
    return problem;
  }
  std::string hash;
  if (std::string error = hashPassword(password, hash); !error.empty()) return error;
  bool created = false;
  if (std::string error = storage.addAccount(name, hash, now, created); !error.empty()) {
    return error;
  }
  if (!created) return "the user " + name + " exists already";
  return {};
}

std::string deleteUser(Storage& storage, const std::string& name) {
  bool removed = false;
  if (std::string error = storage.removeAccount(name, removed); !error.empty()) return error;
  if (!removed) return "there is no user " + name;
  return {};
}

std::string exportList(Storage& storage, const std::string& name, std::string& document) {
  std::optional<Account> account;
  if (std::string error = storage.findAccount(name, account); !error.empty()) return error;
  if (!account) return "there is no user " + name;
  document = account->document ? *account->document : emptyListDocument(account->listTime);
  return {};
}

}  // namespace service

namespace service {
namespace {

std::string stampText(std::int64_t listTime) {
  return exchange::formatTimestamp(static_cast<std::time_t>(listTime));
}

std::string row(const std::string& number, const ListVersion& v) {
  char line[128];
  std::snprintf(line, sizeof line, "%8s  %-19s  %9lld  %12lld\n", number.c_str(),
                stampText(v.listTime).c_str(), static_cast<long long>(v.items),
                static_cast<long long>(v.bytes));
  return line;
}

}  // namespace

std::string showHistory(Storage& storage, const std::string& name, std::string& table) {
  std::optional<ListVersion> current;
  std::vector<ListVersion> versions;
  if (std::string error = storage.listHistory(name, current, versions); !error.empty()) {
    return error;
  }
  if (!current) return "there is no user " + name;
  table = " version  time stamp               items         bytes\n";
  table += row("current", *current);
  for (const ListVersion& v : versions) table += row(std::to_string(v.number), v);
  if (versions.empty()) {
    table += "No earlier versions are kept.\n";
  } else {
    table += "Make a version the current list with: quorvane-service restore " + name + " NUMBER\n";
  }
  return {};
}

std::string restoreList(Storage& storage, const std::string& name, const std::string& number,
                        std::int64_t now, std::string& message) {
  std::int64_t wanted = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), wanted);
  if (ec != std::errc() || end != number.data() + number.size() || wanted < 1) {
    return "the version number must be a whole number from 1 on, not \"" + number + "\"";
  }
  WriteResult result = WriteResult::NoAccount;
  std::int64_t listTime = 0;
  if (std::string error = storage.restoreVersion(name, wanted, now, rerenderList, result, listTime);
      !error.empty()) {
    return error;
  }
  if (result == WriteResult::NoAccount) return "there is no user " + name;
  if (result == WriteResult::NoVersion) {
    return "the user " + name + " has no version " + number + " (quorvane-service history " + name +
           " lists them)";
  }
  message = "Version " + number + " of " + name + " is the current list now, time stamp " +
            stampText(listTime) +
            "; the list it replaced is kept as the newest version. Each computer receives it "
            "at its next synchronisation.\n";
  return {};
}

}  // namespace service
