#include "service/sqlite_storage.h"

#include <sqlite3.h>

#include "service/documents.h"
#include "service/list_time.h"

namespace service {
namespace {

// Schema, version 2. Names and documents are the bytes the clients sent;
// `document` is NULL for an empty list. `list_items` is the current list's
// item count, `next_version` the number its version gets when it is
// replaced. A version row is a replaced list as it was, `bytes` the size of
// its document (0 for an empty list).
constexpr const char* kAccountsTable =
    "CREATE TABLE accounts ("
    "  name TEXT PRIMARY KEY NOT NULL,"
    "  password_hash TEXT NOT NULL,"
    "  created INTEGER NOT NULL,"
    "  list_time INTEGER NOT NULL,"
    "  document BLOB,"
    "  list_items INTEGER NOT NULL DEFAULT 0,"
    "  next_version INTEGER NOT NULL DEFAULT 1"
    ");";
constexpr const char* kVersionsTable =
    "CREATE TABLE versions ("
    "  account TEXT NOT NULL,"
    "  number INTEGER NOT NULL,"
    "  list_time INTEGER NOT NULL,"
    "  items INTEGER NOT NULL,"
    "  bytes INTEGER NOT NULL,"
    "  document BLOB,"
    "  PRIMARY KEY (account, number)"
    ");";
// Version 1 had the accounts table without the last two columns.
constexpr const char* kUpgradeFrom1 =
    "ALTER TABLE accounts ADD COLUMN list_items INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE accounts ADD COLUMN next_version INTEGER NOT NULL DEFAULT 1;";

constexpr std::size_t kMaxIdleConnections = 64;
constexpr int kBusyTimeoutMs = 10000;

struct Finalize {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

std::string failure(sqlite3* db, const std::string& what) {
  return what + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
}

std::string prepare(sqlite3* db, const char* sql, Statement& out) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  out.reset(raw);
  if (rc != SQLITE_OK) return failure(db, "prepare");
  return {};
}

void bindText(sqlite3_stmt* s, int index, const std::string& text) {
  sqlite3_bind_text(s, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string exec(sqlite3* db, const char* sql) {
  char* message = nullptr;
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, &message);
  std::string text = message ? message : "";
  sqlite3_free(message);
  if (rc != SQLITE_OK) return std::string(sql) + ": " + text;
  return {};
}

// Rolls back unless committed: every early return leaves no open transaction.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {}
  ~Transaction() {
    if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  std::string begin() {
    std::string error = exec(db_, "BEGIN IMMEDIATE");
    open_ = error.empty();
    return error;
  }
  std::string commit() {
    std::string error = exec(db_, "COMMIT");
    if (error.empty()) open_ = false;
    return error;
  }

 private:
  sqlite3* db_;
  bool open_ = false;
};

}  // namespace

void SqliteStorage::CloseDb::operator()(sqlite3* db) const { sqlite3_close_v2(db); }

// Borrows a connection for one operation and returns it to the pool after.
class SqliteStorage::Lease {
 public:
  explicit Lease(SqliteStorage& owner) : owner_(owner) { error_ = owner_.borrow(db_); }
  ~Lease() {
    if (db_) owner_.giveBack(std::move(db_));
  }
  const std::string& error() const { return error_; }
  sqlite3* get() const { return db_.get(); }

 private:
  SqliteStorage& owner_;
  Db db_;
  std::string error_;
};

SqliteStorage::SqliteStorage(std::filesystem::path file, SqliteOptions options)
    : file_(std::move(file)), options_(options) {}

SqliteStorage::~SqliteStorage() = default;

namespace {

std::string readInt(sqlite3* db, const char* sql, std::int64_t& out) {
  Statement s;
  if (std::string error = prepare(db, sql, s); !error.empty()) return error;
  if (sqlite3_step(s.get()) != SQLITE_ROW) return failure(db, sql);
  out = sqlite3_column_int64(s.get(), 0);
  return {};
}

// Counts the items of every stored list, for a database whose accounts
// table had no count yet. All counted first, then written: rows are not
// changed under a running SELECT.
std::string countStoredItems(sqlite3* db) {
  std::vector<std::pair<std::string, std::int64_t>> counts;
  {
    Statement read;
    if (std::string error =
            prepare(db, "SELECT name, document FROM accounts WHERE document IS NOT NULL", read);
        !error.empty()) {
      return error;
    }
    int rc;
    while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
      const auto* name = sqlite3_column_text(read.get(), 0);
      const void* blob = sqlite3_column_blob(read.get(), 1);
      std::string_view document(blob ? static_cast<const char*>(blob) : "",
                                static_cast<std::size_t>(sqlite3_column_bytes(read.get(), 1)));
      std::int64_t items = 0;
      // A document that does not parse keeps the count 0; it is still
      // served and kept as it is.
      (void)countListItems(document, items);
      counts.emplace_back(
          std::string(name ? reinterpret_cast<const char*>(name) : "",
                      static_cast<std::size_t>(sqlite3_column_bytes(read.get(), 0))),
          items);
    }
    if (rc != SQLITE_DONE) return failure(db, "count items");
  }
  Statement write;
  if (std::string error = prepare(db, "UPDATE accounts SET list_items = ?2 WHERE name = ?1", write);
      !error.empty()) {
    return error;
  }
  for (const auto& [name, items] : counts) {
    sqlite3_reset(write.get());
    bindText(write.get(), 1, name);
    sqlite3_bind_int64(write.get(), 2, items);
    if (sqlite3_step(write.get()) != SQLITE_DONE) return failure(db, "count items");
  }
  return {};
}

// Creates the schema in a new database or brings an older one up to the
// current version; one transaction, so that two programs opening one file
// at once upgrade it once.
std::string prepareSchema(sqlite3* db, bool create) {
  Transaction transaction(db);
  if (std::string error = transaction.begin(); !error.empty()) return error;
  std::int64_t version = 0, tables = 0;
  if (std::string error = readInt(db, "PRAGMA user_version", version); !error.empty()) return error;
  if (std::string error = readInt(db,
                                  "SELECT count(*) FROM sqlite_master"
                                  " WHERE type = 'table' AND name = 'accounts'",
                                  tables);
      !error.empty()) {
    return error;
  }
  if (version > kSchemaVersion) {
    return "the database has schema version " + std::to_string(version) +
           ", written by a newer quorvane-service (this one knows " +
           std::to_string(kSchemaVersion) + ")";
  }
  if (version == kSchemaVersion) return {};
  if (tables == 0) {
    if (!create) return "the file is not a quorvane-service database";
    if (std::string error = exec(db, kAccountsTable); !error.empty()) return error;
  } else {
    if (std::string error = exec(db, kUpgradeFrom1); !error.empty()) return error;
    if (std::string error = countStoredItems(db); !error.empty()) return error;
  }
  if (std::string error = exec(db, kVersionsTable); !error.empty()) return error;
  std::string setVersion = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
  if (std::string error = exec(db, setVersion.c_str()); !error.empty()) return error;
  return transaction.commit();
}

}  // namespace

std::string SqliteStorage::open(const std::filesystem::path& file,
                                std::unique_ptr<SqliteStorage>& out, SqliteOptions options) {
  std::error_code ec;
  if (!options.create && !std::filesystem::exists(file, ec)) {
    return "there is no database " + file.string();
  }
  std::unique_ptr<SqliteStorage> storage(new SqliteStorage(file, options));
  Db db;
  if (std::string error = storage->connect(db, options.create); !error.empty()) return error;
  // The schema first: a file that is not a database of the service is
  // left as it was (journal_mode would write to it).
  if (std::string error = prepareSchema(db.get(), options.create); !error.empty()) {
    return "open " + file.string() + ": " + error;
  }
  if (std::string error = exec(db.get(), "PRAGMA journal_mode=WAL"); !error.empty()) {
    return "open " + file.string() + ": " + error;
  }
  storage->giveBack(std::move(db));
  out = std::move(storage);
  return {};
}

std::string SqliteStorage::connect(Db& out, bool create) const {
  sqlite3* raw = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(file_.c_str(), &raw, flags, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) return failure(db.get(), "open " + file_.string());
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // NORMAL is durable enough in WAL mode: a power cut may lose the last
  // commits but never corrupts the file.
  if (std::string error = exec(db.get(), "PRAGMA synchronous=NORMAL"); !error.empty()) {
    return "open " + file_.string() + ": " + error;
  }
  out = std::move(db);
  return {};
}

std::string SqliteStorage::borrow(Db& out) {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      out = std::move(idle_.back());
      idle_.pop_back();
      return {};
    }
  }
  // The file exists from open() on; a pooled connection never creates one.
  return connect(out, false);
}

void SqliteStorage::giveBack(Db db) {
  std::lock_guard lock(mutex_);
  if (idle_.size() < kMaxIdleConnections) idle_.push_back(std::move(db));
}

std::string SqliteStorage::addAccount(const std::string& name, const std::string& passwordHash,
                                      std::int64_t now, bool& created) {
  created = false;
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  Statement s;
  if (std::string error = prepare(db.get(),
                                  "INSERT INTO accounts (name, password_hash, created, list_time)"
                                  " VALUES (?1, ?2, ?3, ?3) ON CONFLICT(name) DO NOTHING",
                                  s);
      !error.empty()) {
    return error;
  }
  bindText(s.get(), 1, name);
  bindText(s.get(), 2, passwordHash);
  sqlite3_bind_int64(s.get(), 3, now);
  if (sqlite3_step(s.get()) != SQLITE_DONE) return failure(db.get(), "add account");
  created = sqlite3_changes(db.get()) == 1;
  return {};
}

std::string SqliteStorage::removeAccount(const std::string& name, bool& removed) {
  removed = false;
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  Transaction transaction(db.get());
  if (std::string error = transaction.begin(); !error.empty()) return error;
  for (const char* sql :
       {"DELETE FROM versions WHERE account = ?1", "DELETE FROM accounts WHERE name = ?1"}) {
    Statement s;
    if (std::string error = prepare(db.get(), sql, s); !error.empty()) return error;
    bindText(s.get(), 1, name);
    if (sqlite3_step(s.get()) != SQLITE_DONE) return failure(db.get(), "remove account");
  }
  bool any = sqlite3_changes(db.get()) == 1;
  if (std::string error = transaction.commit(); !error.empty()) return error;
  removed = any;
  return {};
}

std::string SqliteStorage::findAccount(const std::string& name, std::optional<Account>& out) {
  out.reset();
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  Statement s;
  if (std::string error = prepare(db.get(),
                                  "SELECT password_hash, list_time, document FROM accounts"
                                  " WHERE name = ?1",
                                  s);
      !error.empty()) {
    return error;
  }
  bindText(s.get(), 1, name);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return {};
  if (rc != SQLITE_ROW) return failure(db.get(), "find account");
  Account account;
  account.name = name;
  const auto* hash = sqlite3_column_text(s.get(), 0);
  account.passwordHash.assign(hash ? reinterpret_cast<const char*>(hash) : "",
                              static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0)));
  account.listTime = sqlite3_column_int64(s.get(), 1);
  if (sqlite3_column_type(s.get(), 2) != SQLITE_NULL) {
    const void* blob = sqlite3_column_blob(s.get(), 2);
    int size = sqlite3_column_bytes(s.get(), 2);
    account.document.emplace(blob ? static_cast<const char*>(blob) : "",
                             static_cast<std::size_t>(size));
  }
  out = std::move(account);
  return {};
}

std::string SqliteStorage::putList(const std::string& name, const std::string& passwordHash,
                                   std::int64_t now, std::optional<std::int64_t> expected,
                                   std::int64_t items, const RenderList& render,
                                   WriteResult& result, std::int64_t& listTime) {
  return writeList(name, passwordHash, now, expected, items, &render, result, listTime);
}

std::string SqliteStorage::clearList(const std::string& name, const std::string& passwordHash,
                                     std::int64_t now, std::optional<std::int64_t> expected,
                                     WriteResult& result, std::int64_t& listTime) {
  return writeList(name, passwordHash, now, expected, 0, nullptr, result, listTime);
}

namespace {

// Inside a write transaction: keeps the account's current list as its
// newest version and stores the new one (document none: an empty list).
std::string replaceList(sqlite3* db, const std::string& name, std::int64_t time,
                        const std::string* document, std::int64_t items) {
  Statement keep;
  if (std::string error =
          prepare(db,
                  "INSERT INTO versions (account, number, list_time, items, bytes, document)"
                  " SELECT name, next_version, list_time, list_items,"
                  " coalesce(length(document), 0), document FROM accounts WHERE name = ?1",
                  keep);
      !error.empty()) {
    return error;
  }
  bindText(keep.get(), 1, name);
  if (sqlite3_step(keep.get()) != SQLITE_DONE) return failure(db, "keep version");

  Statement write;
  if (std::string error = prepare(db,
                                  "UPDATE accounts SET list_time = ?2, document = ?3,"
                                  " list_items = ?4, next_version = next_version + 1"
                                  " WHERE name = ?1",
                                  write);
      !error.empty()) {
    return error;
  }
  bindText(write.get(), 1, name);
  sqlite3_bind_int64(write.get(), 2, time);
  if (document) {
    sqlite3_bind_blob64(write.get(), 3, document->data(), document->size(), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(write.get(), 3);
  }
  sqlite3_bind_int64(write.get(), 4, items);
  if (sqlite3_step(write.get()) != SQLITE_DONE) return failure(db, "write list");
  return {};
}

// Inside a write transaction: deletes the account's versions beyond the
// newest `keep`.
std::string prune(sqlite3* db, const std::string& name, std::int64_t keep) {
  Statement s;
  if (std::string error = prepare(db,
                                  "DELETE FROM versions WHERE account = ?1 AND number <="
                                  " (SELECT number FROM versions WHERE account = ?1"
                                  "  ORDER BY number DESC LIMIT 1 OFFSET ?2)",
                                  s);
      !error.empty()) {
    return error;
  }
  bindText(s.get(), 1, name);
  sqlite3_bind_int64(s.get(), 2, keep < 0 ? 0 : keep);
  if (sqlite3_step(s.get()) != SQLITE_DONE) return failure(db, "prune versions");
  return {};
}

}  // namespace

std::string SqliteStorage::writeList(const std::string& name, const std::string& passwordHash,
                                     std::int64_t now, std::optional<std::int64_t> expected,
                                     std::int64_t items, const RenderList* render,
                                     WriteResult& result, std::int64_t& listTime) {
  result = WriteResult::NoAccount;
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  Transaction transaction(db.get());
  if (std::string error = transaction.begin(); !error.empty()) return error;

  Statement read;
  if (std::string error = prepare(db.get(),
                                  "SELECT list_time FROM accounts"
                                  " WHERE name = ?1 AND password_hash = ?2",
                                  read);
      !error.empty()) {
    return error;
  }
  bindText(read.get(), 1, name);
  bindText(read.get(), 2, passwordHash);
  int rc = sqlite3_step(read.get());
  if (rc == SQLITE_DONE) return {};
  if (rc != SQLITE_ROW) return failure(db.get(), "read list time");
  std::int64_t previous = sqlite3_column_int64(read.get(), 0);
  read.reset();
  if (expected && *expected != previous) {
    result = WriteResult::Conflict;
    listTime = previous;
    return {};
  }
  std::int64_t time = nextListTime(previous, now);

  std::string document;
  if (render) document = (*render)(time);
  if (std::string error = replaceList(db.get(), name, time, render ? &document : nullptr, items);
      !error.empty()) {
    return error;
  }
  if (std::string error = prune(db.get(), name, options_.historyLimit); !error.empty()) {
    return error;
  }
  if (std::string error = transaction.commit(); !error.empty()) return error;
  result = WriteResult::Done;
  listTime = time;
  return {};
}

std::string SqliteStorage::listHistory(const std::string& name, std::optional<ListVersion>& current,
                                       std::vector<ListVersion>& versions) {
  current.reset();
  versions.clear();
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  // A read transaction: both statements see one snapshot.
  if (std::string error = exec(db.get(), "BEGIN"); !error.empty()) return error;
  struct EndRead {
    sqlite3* db;
    ~EndRead() { sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr); }
  } end{db.get()};

  Statement s;
  if (std::string error =
          prepare(db.get(),
                  "SELECT 0, list_time, list_items, coalesce(length(document), 0) FROM accounts"
                  " WHERE name = ?1",
                  s);
      !error.empty()) {
    return error;
  }
  auto row = [&s] {
    return ListVersion{sqlite3_column_int64(s.get(), 0), sqlite3_column_int64(s.get(), 1),
                       sqlite3_column_int64(s.get(), 2), sqlite3_column_int64(s.get(), 3)};
  };
  bindText(s.get(), 1, name);
  int rc = sqlite3_step(s.get());
  if (rc == SQLITE_DONE) return {};
  if (rc != SQLITE_ROW) return failure(db.get(), "read history");
  ListVersion now = row();

  if (std::string error = prepare(db.get(),
                                  "SELECT number, list_time, items, bytes FROM versions"
                                  " WHERE account = ?1 ORDER BY number DESC",
                                  s);
      !error.empty()) {
    return error;
  }
  bindText(s.get(), 1, name);
  std::vector<ListVersion> found;
  while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) found.push_back(row());
  if (rc != SQLITE_DONE) return failure(db.get(), "read history");
  current = now;
  versions = std::move(found);
  return {};
}

std::string SqliteStorage::restoreVersion(const std::string& name, std::int64_t number,
                                          std::int64_t now, const RerenderList& rerender,
                                          WriteResult& result, std::int64_t& listTime) {
  result = WriteResult::NoAccount;
  Lease db(*this);
  if (!db.error().empty()) return db.error();
  Transaction transaction(db.get());
  if (std::string error = transaction.begin(); !error.empty()) return error;

  Statement read;
  if (std::string error = prepare(db.get(), "SELECT list_time FROM accounts WHERE name = ?1", read);
      !error.empty()) {
    return error;
  }
  bindText(read.get(), 1, name);
  int rc = sqlite3_step(read.get());
  if (rc == SQLITE_DONE) return {};
  if (rc != SQLITE_ROW) return failure(db.get(), "read list time");
  std::int64_t time = nextListTime(sqlite3_column_int64(read.get(), 0), now);

  if (std::string error = prepare(db.get(),
                                  "SELECT items, document FROM versions"
                                  " WHERE account = ?1 AND number = ?2",
                                  read);
      !error.empty()) {
    return error;
  }
  bindText(read.get(), 1, name);
  sqlite3_bind_int64(read.get(), 2, number);
  rc = sqlite3_step(read.get());
  if (rc == SQLITE_DONE) {
    result = WriteResult::NoVersion;
    return {};
  }
  if (rc != SQLITE_ROW) return failure(db.get(), "read version");
  std::int64_t items = sqlite3_column_int64(read.get(), 0);
  std::optional<std::string> document;
  if (sqlite3_column_type(read.get(), 1) != SQLITE_NULL) {
    const void* blob = sqlite3_column_blob(read.get(), 1);
    std::string kept(blob ? static_cast<const char*>(blob) : "",
                     static_cast<std::size_t>(sqlite3_column_bytes(read.get(), 1)));
    document = rerender(kept, time);
    if (document->empty()) return "version " + std::to_string(number) + " cannot be read";
  }
  read.reset();

  if (std::string error = replaceList(db.get(), name, time, document ? &*document : nullptr, items);
      !error.empty()) {
    return error;
  }
  if (std::string error = transaction.commit(); !error.empty()) return error;
  result = WriteResult::Done;
  listTime = time;
  return {};
}

}  // namespace service
