#include "service/sqlite_storage.h"

#include <sqlite3.h>

#include "service/list_time.h"

namespace service {
namespace {

// Schema, version 1. Names and documents are the bytes the clients sent;
// `document` is NULL for an empty list.
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS accounts ("
    "  name TEXT PRIMARY KEY NOT NULL,"
    "  password_hash TEXT NOT NULL,"
    "  created INTEGER NOT NULL,"
    "  list_time INTEGER NOT NULL,"
    "  document BLOB"
    ");";

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

SqliteStorage::SqliteStorage(std::filesystem::path file) : file_(std::move(file)) {}

SqliteStorage::~SqliteStorage() = default;

std::string SqliteStorage::open(const std::filesystem::path& file,
                                std::unique_ptr<SqliteStorage>& out) {
  std::unique_ptr<SqliteStorage> storage(new SqliteStorage(file));
  Db db;
  if (std::string error = storage->connect(db); !error.empty()) return error;
  if (std::string error = exec(db.get(), "PRAGMA journal_mode=WAL"); !error.empty()) {
    return "open " + file.string() + ": " + error;
  }
  if (std::string error = exec(db.get(), kSchema); !error.empty()) {
    return "open " + file.string() + ": " + error;
  }
  storage->giveBack(std::move(db));
  out = std::move(storage);
  return {};
}

std::string SqliteStorage::connect(Db& out) const {
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(file_.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
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
  return connect(out);
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
  Statement s;
  if (std::string error = prepare(db.get(), "DELETE FROM accounts WHERE name = ?1", s);
      !error.empty()) {
    return error;
  }
  bindText(s.get(), 1, name);
  if (sqlite3_step(s.get()) != SQLITE_DONE) return failure(db.get(), "remove account");
  removed = sqlite3_changes(db.get()) == 1;
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
                                   std::int64_t now, const RenderList& render, WriteResult& result,
                                   std::int64_t& listTime) {
  return writeList(name, passwordHash, now, &render, result, listTime);
}

std::string SqliteStorage::clearList(const std::string& name, const std::string& passwordHash,
                                     std::int64_t now, WriteResult& result,
                                     std::int64_t& listTime) {
  return writeList(name, passwordHash, now, nullptr, result, listTime);
}

std::string SqliteStorage::writeList(const std::string& name, const std::string& passwordHash,
                                     std::int64_t now, const RenderList* render,
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
  std::int64_t time = nextListTime(sqlite3_column_int64(read.get(), 0), now);
  read.reset();

  Statement write;
  if (std::string error = prepare(db.get(),
                                  "UPDATE accounts SET list_time = ?2, document = ?3"
                                  " WHERE name = ?1",
                                  write);
      !error.empty()) {
    return error;
  }
  bindText(write.get(), 1, name);
  sqlite3_bind_int64(write.get(), 2, time);
  std::string document;
  if (render) {
    document = (*render)(time);
    sqlite3_bind_blob64(write.get(), 3, document.data(), document.size(), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(write.get(), 3);
  }
  if (sqlite3_step(write.get()) != SQLITE_DONE) return failure(db.get(), "write list");
  write.reset();
  if (std::string error = transaction.commit(); !error.empty()) return error;
  result = WriteResult::Done;
  listTime = time;
  return {};
}

}  // namespace service
