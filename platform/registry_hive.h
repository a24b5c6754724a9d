// Internal to the platform library: one registry hive as a SQLite database,
// and the transactions that every registry operation runs in.
//
// Schema:
//   keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent, name COLLATE NOCASE)
//        unique (parent, name); the hive's root is id 0 and has no row. Ids are
//        never reused, so a handle to a deleted key cannot reach a new one.
//   vals(seq INTEGER PRIMARY KEY AUTOINCREMENT, key, name COLLATE NOCASE, type,
//        data BLOB) unique (key, name); seq keeps the order of creation.
// NOCASE folds ASCII letters only, which is how key and value names compare.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace platform::registry_hive {

enum class Hive { CurrentUser, LocalMachine };

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  int prepareResult() const { return prepareResult_; }
  Statement& bind(int index, int64_t value);
  Statement& bindText(int index, const std::string& value);
  Statement& bindBlob(int index, const std::string& value);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  int64_t columnInt(int index) const;
  std::string columnText(int index) const;
  std::string columnBlob(int index) const;

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int prepareResult_ = SQLITE_OK;
};

// The Status for a failing SQLite result; kBusy means "retry the transaction".
Status statusFromSqlite(int rc);

// Runs body inside one transaction of the hive (BEGIN IMMEDIATE when write is
// true, a read snapshot otherwise) and commits when it returns kOk; any other
// result rolls back. While SQLite reports busy (body returns kBusy, or BEGIN or
// COMMIT fail with it) the whole transaction is retried. The calling process
// holds the hive's connection exclusively while body runs.
Status runTransaction(Hive hive, bool write, const std::function<Status(sqlite3*)>& body);

// Splits "A\B\C" into its names; false for empty components or a leading
// backslash (a single trailing backslash is ignored).
bool splitPath(const std::string& path, std::vector<std::string>* names);

// Within a transaction: the id of the key at names below parent (0 = root).
// kFileNotFound when a component is missing; with create, missing keys are
// made.
Status findKey(sqlite3* db, int64_t parent, const std::vector<std::string>& names, bool create,
               int64_t* id);
// Within a transaction: kOk when the key still exists, kKeyDeleted otherwise.
Status checkKeyAlive(sqlite3* db, int64_t id);

}  // namespace platform::registry_hive
