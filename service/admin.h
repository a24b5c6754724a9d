// Account administration from the command line.
#pragma once

#include <string>

#include "service/storage.h"

namespace service {

// Creates an account. Returns an error text, empty on success.
std::string addUser(Storage& storage, const std::string& name, const std::string& password,
                    std::int64_t now);

// Deletes an account and its list.
std::string deleteUser(Storage& storage, const std::string& name);

// The stored document of an account, as a "full" answer would send it.
std::string exportList(Storage& storage, const std::string& name, std::string& document);

}  // namespace service
