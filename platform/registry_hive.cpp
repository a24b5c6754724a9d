#include "platform/registry_hive.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "platform/fault_points.h"
#include "platform/prefix.h"

namespace platform::registry_hive {
namespace {

using Clock = std::chrono::steady_clock;

// How long a transaction is retried while other processes keep the hive busy
// before the operation fails. Each attempt also waits in SQLite's own busy
// handler first.
constexpr auto kRetryLimit = std::chrono::seconds(60);
constexpr int kBusyTimeoutMs = 2000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, name));";

// A cached connection to one hive file. A connection belongs to the process
// that opened it: SQLite connections must not be used across fork, so a child
// opens its own and never touches (nor closes) the ones it inherited.
struct Connection {
  sqlite3* db = nullptr;
  pid_t pid = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  std::mutex mutex;  // held for the whole of a transaction

  ~Connection();
};

std::mutex g_cacheMutex;
std::map<std::string, std::shared_ptr<Connection>>* g_cache = nullptr;
// Connections inherited over fork stay reachable here and are never used.
std::vector<sqlite3*>* g_inherited = nullptr;

Connection::~Connection() {
  if (!db) return;
  if (pid == getpid()) {
    sqlite3_close_v2(db);
  } else {
    if (!g_inherited) g_inherited = new std::vector<sqlite3*>;
    g_inherited->push_back(db);
  }
}

void installForkHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    pthread_atfork([] { g_cacheMutex.lock(); }, [] { g_cacheMutex.unlock(); },
                   [] { g_cacheMutex.unlock(); });
  });
}

Status execWithStatus(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? kOk : statusFromSqlite(rc);
}

// Opens the hive and makes sure it is in WAL mode and has its tables.
Status openConnection(const std::string& path, std::shared_ptr<Connection>* out) {
  auto conn = std::make_shared<Connection>();
  conn->pid = getpid();
  int rc = sqlite3_open_v2(path.c_str(), &conn->db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) return statusFromSqlite(rc) == kBusy ? kBusy : kRegistryIo;
  sqlite3_busy_timeout(conn->db, kBusyTimeoutMs);
  if (Status s = execWithStatus(conn->db, "PRAGMA journal_mode=WAL"); s != kOk) return s;
  if (Status s = execWithStatus(conn->db, "PRAGMA synchronous=NORMAL"); s != kOk) return s;
  // The schema check reads before it writes; a write lock up front keeps two
  // processes that create the hive at once from deadlocking on the upgrade.
  if (Status s = execWithStatus(conn->db, "BEGIN IMMEDIATE"); s != kOk) return s;
  if (Status s = execWithStatus(conn->db, kSchema); s != kOk) {
    sqlite3_exec(conn->db, "ROLLBACK", nullptr, nullptr, nullptr);
    return s;
  }
  if (Status s = execWithStatus(conn->db, "COMMIT"); s != kOk) {
    sqlite3_exec(conn->db, "ROLLBACK", nullptr, nullptr, nullptr);
    return s;
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return kRegistryIo;
  conn->dev = st.st_dev;
  conn->ino = st.st_ino;
  *out = std::move(conn);
  return kOk;
}

// The process's connection to the hive; a new one when none exists yet, when
// the process was forked since, or when the file at the path was replaced
// (a new prefix at the same place).
Status acquire(Hive hive, std::shared_ptr<Connection>* out) {
  installForkHandlers();
  std::filesystem::path dir = prefixDirectory("registry");
  std::string path = (dir / (hive == Hive::CurrentUser ? "HKCU.db" : "HKLM.db")).string();
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  if (!g_cache) g_cache = new std::map<std::string, std::shared_ptr<Connection>>;
  auto it = g_cache->find(path);
  if (it != g_cache->end()) {
    struct stat st;
    const Connection& c = *it->second;
    if (c.pid == getpid() && ::stat(path.c_str(), &st) == 0 && st.st_dev == c.dev &&
        st.st_ino == c.ino) {
      *out = it->second;
      return kOk;
    }
    g_cache->erase(it);
  }
  std::shared_ptr<Connection> conn;
  if (Status s = openConnection(path, &conn); s != kOk) return s;
  (*g_cache)[path] = conn;
  *out = std::move(conn);
  return kOk;
}

void backOff(int attempt) {
  thread_local std::minstd_rand random(static_cast<unsigned>(getpid()) ^
                                       static_cast<unsigned>(Clock::now().time_since_epoch().count()));
  int ceiling = attempt < 6 ? (1 << attempt) : 50;
  std::this_thread::sleep_for(std::chrono::milliseconds(1 + random() % ceiling));
}

}  // namespace

Statement::Statement(sqlite3* db, const char* sql) {
  prepareResult_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  if (prepareResult_ != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement& Statement::bind(int index, int64_t value) {
  if (stmt_) sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Statement& Statement::bindText(int index, const std::string& value) {
  if (stmt_) {
    sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  return *this;
}

Statement& Statement::bindBlob(int index, const std::string& value) {
  // A zero-length blob, not NULL, for an empty value.
  if (stmt_) {
    sqlite3_bind_blob(stmt_, index, value.empty() ? "" : value.data(),
                      static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  return *this;
}

int Statement::step() { return stmt_ ? sqlite3_step(stmt_) : prepareResult_; }

int64_t Statement::columnInt(int index) const { return sqlite3_column_int64(stmt_, index); }

std::string Statement::columnText(int index) const {
  const unsigned char* text = sqlite3_column_text(stmt_, index);
  int size = sqlite3_column_bytes(stmt_, index);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
              : std::string();
}

std::string Statement::columnBlob(int index) const {
  const void* blob = sqlite3_column_blob(stmt_, index);
  int size = sqlite3_column_bytes(stmt_, index);
  return blob ? std::string(static_cast<const char*>(blob), static_cast<size_t>(size))
              : std::string();
}

Status statusFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE: return kOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return kBusy;
    case SQLITE_FULL: return kDiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return kAccessDenied;
    case SQLITE_NOMEM: return kNotEnoughMemory;
    default: return kRegistryIo;
  }
}

Status runTransaction(Hive hive, bool write, const std::function<Status(sqlite3*)>& body) {
  Status fault = injectedFault(write ? FaultSite::RegistryWrite : FaultSite::RegistryRead,
                               hive == Hive::CurrentUser ? "HKCU" : "HKLM");
  if (fault != kOk) return fault;
  const auto deadline = Clock::now() + kRetryLimit;
  for (int attempt = 0;; ++attempt) {
    std::shared_ptr<Connection> conn;
    Status status = acquire(hive, &conn);
    if (status == kOk) {
      std::lock_guard<std::mutex> lock(conn->mutex);
      sqlite3* db = conn->db;
      status = execWithStatus(db, write ? "BEGIN IMMEDIATE" : "BEGIN");
      if (status == kOk) {
        status = body(db);
        if (status == kOk) status = execWithStatus(db, "COMMIT");
        if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      }
    }
    if (status != kBusy) return status;
    if (Clock::now() >= deadline) return kRegistryIo;
    backOff(attempt);
  }
}

bool splitPath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  if (path.empty()) return true;
  std::string trimmed = path;
  if (trimmed.back() == '\\') trimmed.pop_back();
  if (trimmed.empty() || trimmed.front() == '\\') return false;
  size_t start = 0;
  for (;;) {
    size_t end = trimmed.find('\\', start);
    std::string name = trimmed.substr(start, end == std::string::npos ? end : end - start);
    // Key names are at most 255 characters and never empty.
    if (name.empty() || name.size() > 255) return false;
    names->push_back(std::move(name));
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

Status findKey(sqlite3* db, int64_t parent, const std::vector<std::string>& names, bool create,
               int64_t* id) {
  int64_t current = parent;
  for (const std::string& name : names) {
    Statement select(db, "SELECT id FROM keys WHERE parent = ?1 AND name = ?2");
    int rc = select.bind(1, current).bindText(2, name).step();
    if (rc == SQLITE_ROW) {
      current = select.columnInt(0);
      continue;
    }
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    if (!create) return kFileNotFound;
    Statement insert(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
    rc = insert.bind(1, current).bindText(2, name).step();
    if (rc != SQLITE_DONE) return statusFromSqlite(rc);
    current = sqlite3_last_insert_rowid(db);
  }
  *id = current;
  return kOk;
}

Status checkKeyAlive(sqlite3* db, int64_t id) {
  if (id == 0) return kOk;
  Statement select(db, "SELECT 1 FROM keys WHERE id = ?1");
  int rc = select.bind(1, id).step();
  if (rc == SQLITE_ROW) return kOk;
  if (rc == SQLITE_DONE) return kKeyDeleted;
  return statusFromSqlite(rc);
}

}  // namespace platform::registry_hive
