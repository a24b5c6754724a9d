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

// The current list and the kept versions of an account, newest first, as a
// table for people: number ("current" for the list itself), time stamp
// text, item count and size in bytes.
std::string showHistory(Storage& storage, const std::string& name, std::string& table);

// Makes version `number` (as showHistory numbers it) the current list
// under a new time stamp; `message` tells what was done.
std::string restoreList(Storage& storage, const std::string& name, const std::string& number,
                        std::int64_t now, std::string& message);

}  // namespace service
