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

class SqliteStorage final : public Storage {
 public:
  // Opens (creating when missing) the database file and its schema.
  // Returns an error text, empty on success; `out` is set on success only.
  static std::string open(const std::filesystem::path& file, std::unique_ptr<SqliteStorage>& out);

  ~SqliteStorage() override;

  std::string addAccount(const std::string& name, const std::string& passwordHash, std::int64_t now,
                         bool& created) override;
  std::string removeAccount(const std::string& name, bool& removed) override;
  std::string findAccount(const std::string& name, std::optional<Account>& out) override;
  std::string putList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                      const RenderList& render, WriteResult& result,
                      std::int64_t& listTime) override;
  std::string clearList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                        WriteResult& result, std::int64_t& listTime) override;

 private:
  struct CloseDb {
    void operator()(sqlite3* db) const;
  };
  using Db = std::unique_ptr<sqlite3, CloseDb>;

  // Connections are not shared between threads at once: each operation
  // borrows one from the pool (WAL lets readers run beside the writer).
  class Lease;

  explicit SqliteStorage(std::filesystem::path file);
  std::string connect(Db& out) const;
  std::string borrow(Db& out);
  void giveBack(Db db);
  std::string writeList(const std::string& name, const std::string& passwordHash, std::int64_t now,
                        const RenderList* render, WriteResult& result, std::int64_t& listTime);

  std::filesystem::path file_;
  std::mutex mutex_;
  std::vector<Db> idle_;
};

}  // namespace service
