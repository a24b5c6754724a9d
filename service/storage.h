// Where the service keeps its accounts and their lists.
//
// Every operation is one transaction: a reader never sees a list half
// replaced. Failures are returned as texts (empty on success); "not found"
// is not a failure but an out-parameter. Implementations are safe to call
// from many threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace service {

// One account with its list. A list time is seconds since the epoch; it is
// unique per version of the list and only ever grows.
struct Account {
  std::string name;
  std::string passwordHash;  // crypto_pwhash_str text
  std::int64_t listTime = 0;
  // The stored document exactly as a "full" answer sends it (its root
  // already carries type and timestamp), or none for an empty list.
  std::optional<std::string> document;
};

// Renders the document to store for a list time chosen inside the
// transaction; returns the document text.
using RenderList = std::function<std::string(std::int64_t listTime)>;

// The result of a write that is bound to an account.
enum class WriteResult {
  Done,
  NoAccount,  // no such account, or its password hash changed meanwhile
};

class Storage {
 public:
  virtual ~Storage() = default;

  // Creates an account with an empty list whose time is `now`. `created`
  // is false when the name is taken.
  virtual std::string addAccount(const std::string& name, const std::string& passwordHash,
                                 std::int64_t now, bool& created) = 0;

  // Deletes an account and its list. `removed` is false when there was none.
  virtual std::string removeAccount(const std::string& name, bool& removed) = 0;

  // Reads an account with its list in one snapshot; `out` is none when the
  // account does not exist.
  virtual std::string findAccount(const std::string& name, std::optional<Account>& out) = 0;

  // Replaces the list of the account whose name and password hash are given.
  // The new list time is nextListTime(previous, now); `render` is called
  // with it inside the transaction. `listTime` receives the time stored.
  virtual std::string putList(const std::string& name, const std::string& passwordHash,
                              std::int64_t now, const RenderList& render, WriteResult& result,
                              std::int64_t& listTime) = 0;

  // Empties the list (no document) and gives it a new time as putList does.
  virtual std::string clearList(const std::string& name, const std::string& passwordHash,
                                std::int64_t now, WriteResult& result, std::int64_t& listTime) = 0;
};

}  // namespace service
