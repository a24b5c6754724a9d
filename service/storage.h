// Where the service keeps its accounts, their lists and the earlier versions
// of each list.
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
#include <vector>

namespace service {

// One account with its list. A list time is seconds since the epoch; it is
// unique per version of the list and only ever grows (its local-time text
// grows too: see nextListTime).
struct Account {
  std::string name;
  std::string passwordHash;  // crypto_pwhash_str text
  std::int64_t listTime = 0;
  // The stored document exactly as a "full" answer sends it (its root
  // already carries type and timestamp), or none for an empty list.
  std::optional<std::string> document;
};

// A list as the history shows it: the current one or an earlier version.
struct ListVersion {
  // Earlier versions are numbered per account from 1 on in the order they
  // were kept; a number is never given twice nor changed while the account
  // exists. 0 for the current list.
  std::int64_t number = 0;
  std::int64_t listTime = 0;
  std::int64_t items = 0;  // folders, bookmarks and separators at every depth
  std::int64_t bytes = 0;  // the stored document's size; 0 for an empty list
};

// Renders the document to store for a list time chosen inside the
// transaction; returns the document text.
using RenderList = std::function<std::string(std::int64_t listTime)>;

// Renders a kept document again for the list time chosen inside the
// transaction (a restore): returns the new text, or an empty text when the
// kept one cannot be rendered (the restore then fails and changes nothing).
using RerenderList = std::function<std::string(const std::string& document, std::int64_t listTime)>;

// The result of a write that is bound to an account.
enum class WriteResult {
  Done,
  NoAccount,  // no such account, or its password hash changed meanwhile
  Conflict,   // the stored list time was not the expected one; nothing written
  NoVersion,  // restore only: the account has no version of that number
};

class Storage {
 public:
  virtual ~Storage() = default;

  // Creates an account with an empty list whose time is `now`. `created`
  // is false when the name is taken.
  virtual std::string addAccount(const std::string& name, const std::string& passwordHash,
                                 std::int64_t now, bool& created) = 0;

  // Deletes an account with its list and all its versions. `removed` is
  // false when there was none.
  virtual std::string removeAccount(const std::string& name, bool& removed) = 0;

  // Reads an account with its list in one snapshot; `out` is none when the
  // account does not exist.
  virtual std::string findAccount(const std::string& name, std::optional<Account>& out) = 0;

  // Replaces the list of the account whose name and password hash are given.
  //
  // `expected`, when given, makes the write conditional: it is done only
  // when the stored list time equals `expected` at the moment of the write
  // (in the write's own transaction, so of two writers expecting one time
  // exactly one succeeds). Otherwise the result is Conflict, nothing changes
  // and `listTime` receives the stored time. Callers take `expected` from a
  // findAccount snapshot after deciding there that the client holds that
  // version; in SQL the whole check is "AND list_time = expected" on the
  // update.
  //
  // The new list time is nextListTime(previous, now); `render` is called
  // with it inside the transaction; `items` is the new list's item count.
  // The list replaced is kept as the account's newest version, and versions
  // beyond the storage's history limit (the oldest first) are deleted in the
  // same transaction. `listTime` receives the time stored.
  virtual std::string putList(const std::string& name, const std::string& passwordHash,
                              std::int64_t now, std::optional<std::int64_t> expected,
                              std::int64_t items, const RenderList& render, WriteResult& result,
                              std::int64_t& listTime) = 0;

  // Empties the list (no document) as putList replaces it, with the same
  // condition, new time and version kept.
  virtual std::string clearList(const std::string& name, const std::string& passwordHash,
                                std::int64_t now, std::optional<std::int64_t> expected,
                                WriteResult& result, std::int64_t& listTime) = 0;

  // The current list and the kept versions, newest first, in one snapshot.
  // `current` is none when the account does not exist.
  virtual std::string listHistory(const std::string& name, std::optional<ListVersion>& current,
                                  std::vector<ListVersion>& versions) = 0;

  // Makes version `number` the current list under the new time
  // nextListTime(previous, now), its document rendered again by `rerender`
  // for that time. The list replaced is kept as the newest version, as a
  // write keeps it; no version is deleted (neither the restored one nor any
  // beyond the history limit: the next write prunes). Results: Done,
  // NoAccount, NoVersion. `listTime` receives the time stored.
  virtual std::string restoreVersion(const std::string& name, std::int64_t number, std::int64_t now,
                                     const RerenderList& rerender, WriteResult& result,
                                     std::int64_t& listTime) = 0;
};

}  // namespace service
