// Storage in one SQLite database file (WAL mode), the embedded default.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "service/storage.h"

struct sqlite3;

namespace service {

struct SqliteOptions {
  // False: a missing file is an error rather than a new database (the
  // administration commands, where a mistyped path must not make one).
  bool create = true;
  // Earlier versions kept per account; a write deletes those beyond.
  std::int64_t historyLimit = 50;
};

// The schema version this program writes (PRAGMA user_version). Version 1,
// the first, never set user_version; it is upgraded when opened.
inline constexpr int kSchemaVersion = 2;

class SqliteStorage final : public Storage {
 public:
  // Opens the database file, creating it when missing and allowed, and
  // creates or upgrades its schema. Returns an error text, empty on
  // success; `out` is set on success only.
  static std::string open(const std::filesystem::path& file, std::unique_ptr<SqliteStorage>& out,
                          SqliteOptions options = {});

  ~SqliteStorage() override;

  std::string addAccount(const std::string& name, const std::string& passwordHash, std::int64_t now,
                         bool& created) override;
  std::string removeAccount(const std::string& name, bool& removed) override;
  std::string findAccount(const std::string& name, std::optional<Account>& out) override;
  std::string putList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                      std::optional<std::int64_t> expected, std::int64_t items,
                      const RenderList& render, WriteResult& result,
                      std::int64_t& listTime) override;
  std::string clearList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                        std::optional<std::int64_t> expected, WriteResult& result,
                        std::int64_t& listTime) override;
  std::string listHistory(const std::string& name, std::optional<ListVersion>& current,
                          std::vector<ListVersion>& versions) override;
  std::string restoreVersion(const std::string& name, std::int64_t number, std::int64_t now,
                             const RerenderList& rerender, WriteResult& result,
                             std::int64_t& listTime) override;

 private:
  struct CloseDb {
    void operator()(sqlite3* db) const;
  };
  using Db = std::unique_ptr<sqlite3, CloseDb>;

  // Connections are not shared between threads at once: each operation
  // borrows one from the pool (WAL lets readers run beside the writer).
  class Lease;

  SqliteStorage(std::filesystem::path file, SqliteOptions options);
  std::string connect(Db& out, bool create) const;
  std::string borrow(Db& out);
  void giveBack(Db db);
  std::string writeList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                        std::optional<std::int64_t> expected, std::int64_t items,
                        const RenderList* render, WriteResult& result, std::int64_t& listTime);

  std::filesystem::path file_;
  SqliteOptions options_;
  std::mutex mutex_;
  std::vector<Db> idle_;
};

}  // namespace service
