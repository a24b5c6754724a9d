#include "service/admin.h"

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
