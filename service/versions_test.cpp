// Conditional uploads, the history of versions and restores, through
// handleRequest against the SQLite storage in a temporary folder, with a
// clock of the test's.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <fstream>

#include "exchange/document.h"
#include "exchange/timestamp.h"
#include "service/admin.h"
#include "service/documents.h"
#include "service/handler.h"
#include "service/sqlite_storage.h"
#include "tests/support/temp_prefix.h"

namespace service {
namespace {

constexpr std::int64_t kStart = 1765400000;  // a time of the test's clock

std::string stamp(std::int64_t t) { return exchange::formatTimestamp(static_cast<std::time_t>(t)); }

std::string listOf(const std::string& items) {
  return "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">" +
         items + "</bookmarks>\n";
}

std::string bookmark(const std::string& name) {
  return "<bookmark><name>" + name + "</name><link>http://example.org/" + name +
         "</link></bookmark>";
}

// The item names of a stored or downloaded document, in document order, at
// every depth ("" for a text that does not parse).
std::string namesOf(const std::string& document) {
  std::string names;
  std::size_t at = 0;
  while ((at = document.find("<name>", at)) != std::string::npos) {
    at += 6;
    names += (names.empty() ? "" : " ") + document.substr(at, document.find("</name>", at) - at);
  }
  return names;
}

class Versions : public ::testing::Test {
 protected:
  void SetUp() override { open({}); }

  void open(SqliteOptions options) {
    storage.reset();
    ASSERT_EQ(SqliteStorage::open(dir.path() / "service.db", storage, options), "");
    context = std::make_unique<ServiceContext>(
        ServiceContext{*storage, passwords, "/data", [this] { return clock; }});
    addAccount("alice");
  }
  // An account with the password "pw" whose empty list has the clock's time.
  void addAccount(const std::string& name) {
    static const std::string hash = [] {
      std::string h;
      EXPECT_EQ(hashPassword("pw", h), "");
      return h;
    }();
    bool created = false;
    ASSERT_EQ(storage->addAccount(name, hash, clock, created), "");
    user = name;
  }

  HttpResponse request(const std::string& method, const std::string& function,
                       const std::string& extra = {}, const std::string& body = {}) {
    ++clock;
    return handleRequest(
        *context, {method, "/data?user=" + user + "&pass=pw&function=" + function + extra, body});
  }
  HttpResponse put(const std::string& body, const std::string& extra = {}) {
    return request("PUT", "put", extra, body);
  }
  HttpResponse get() { return request("GET", "get"); }
  // The stored list's time stamp text.
  std::string current() {
    std::optional<Account> account;
    EXPECT_EQ(storage->findAccount(user, account), "");
    return account ? stamp(account->listTime) : "";
  }
  std::vector<ListVersion> history() {
    std::optional<ListVersion> now;
    std::vector<ListVersion> versions;
    EXPECT_EQ(storage->listHistory(user, now, versions), "");
    return versions;
  }
  std::vector<std::int64_t> numbers() {
    std::vector<std::int64_t> out;
    for (const ListVersion& v : history()) out.push_back(v.number);
    return out;
  }

  testsupport::TempDir dir;
  std::unique_ptr<SqliteStorage> storage;
  PasswordChecker passwords;
  std::unique_ptr<ServiceContext> context;
  std::int64_t clock = kStart;
  std::string user;  // of the requests
};

TEST_F(Versions, ConditionalUploadsTable) {
  ASSERT_EQ(put(listOf(bookmark("stored"))).status, 200);
  const std::string stored = current();
  const std::string older = stamp(exchange::parseTimestamp(stored) - 1);
  // The same time without zero padding names the same version.
  std::tm tm{};
  std::time_t t = exchange::parseTimestamp(stored);
  localtime_r(&t, &tm);
  const std::string unpadded = std::to_string(tm.tm_year + 1900) + "-" +
                               std::to_string(tm.tm_mon + 1) + "-" + std::to_string(tm.tm_mday) +
                               "-" + std::to_string(tm.tm_hour) + "-" + std::to_string(tm.tm_min) +
                               "-" + std::to_string(tm.tm_sec);
  struct Row {
    const char* label;
    const char* function;
    std::string extra;
    std::string body;
    int status;
    bool changes;  // the stored list gets a new version
  };
  const Row rows[] = {
      {"put naming the stored version", "put", "&timestamp=" + stored, listOf(bookmark("a")), 200,
       true},
      {"put naming it unpadded", "put", "&timestamp=" + unpadded, listOf(bookmark("a")), 200, true},
      {"put naming an older version", "put", "&timestamp=" + older, listOf(bookmark("a")), 409,
       false},
      {"put naming no time", "put", "&timestamp=yesterday", listOf(bookmark("a")), 409, false},
      {"put with an empty time stamp", "put", "&timestamp=", listOf(bookmark("a")), 409, false},
      {"put without time stamp", "put", "", listOf(bookmark("a")), 200, true},
      {"put naming the stored version, body not a list", "put", "&timestamp=" + stored, "<x/>", 400,
       false},
      {"remove naming an older version", "remove", "&timestamp=" + older, "", 409, false},
      {"remove naming the stored version", "remove", "&timestamp=" + stored, "", 200, true},
      {"remove without time stamp", "remove", "", "", 200, true},
  };
  int account = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    // Each row has an account of its own whose list has the same time.
    clock = kStart;
    addAccount("row" + std::to_string(++account));
    ASSERT_EQ(put(listOf(bookmark("stored"))).status, 200);
    ASSERT_EQ(current(), stored);
    const std::size_t kept = history().size();

    HttpResponse r = request("PUT", row.function, row.extra, row.body);
    EXPECT_EQ(r.status, row.status) << r.body;
    EXPECT_EQ(current() != stored, row.changes);
    EXPECT_EQ(history().size(), kept + (row.changes ? 1 : 0));
    if (row.status == 200) {
      // The stored version in the shape of a "skip" answer, so that the
      // uploading computer can cache its list under it.
      EXPECT_EQ(r.contentType.rfind("text/xml", 0), 0u);
      EXPECT_EQ(r.body, skipDocument(exchange::parseTimestamp(current())));
      EXPECT_NE(r.body.find("timestamp=\"" + current() + "\""), std::string::npos) << r.body;
      EXPECT_EQ(namesOf(r.body), "");
    }
    if (row.status == 409) {
      EXPECT_EQ(r.contentType.rfind("text/plain", 0), 0u);
      EXPECT_NE(r.body.find("stored version is " + stored), std::string::npos) << r.body;
      EXPECT_NE(r.body.find("download the list again"), std::string::npos) << r.body;
      EXPECT_EQ(namesOf(get().body), "stored");
    }
  }
}

TEST_F(Versions, TheVersionIsCheckedInsideTheWrite) {
  // Two clients read the same version; the first write wins, the second,
  // which decided on the same snapshot, is refused by the storage.
  ASSERT_EQ(put(listOf(bookmark("base"))).status, 200);
  std::optional<Account> snapshot;
  ASSERT_EQ(storage->findAccount("alice", snapshot), "");
  auto write = [&](const std::string& name, WriteResult& result, std::int64_t& time) {
    ListDocument list;
    ASSERT_EQ(ListDocument::parse(listOf(bookmark(name)), list), "");
    ASSERT_EQ(storage->putList(
                  "alice", snapshot->passwordHash, ++clock, snapshot->listTime, list.items(),
                  [&list](std::int64_t t) { return list.render(t); }, result, time),
              "");
  };
  WriteResult first, second;
  std::int64_t firstTime = 0, secondTime = 0;
  write("first", first, firstTime);
  write("second", second, secondTime);
  EXPECT_EQ(first, WriteResult::Done);
  EXPECT_EQ(second, WriteResult::Conflict);
  EXPECT_EQ(secondTime, firstTime);  // the stored time, for the answer
  EXPECT_EQ(namesOf(get().body), "first");
  // Clearing is held to the same condition.
  WriteResult cleared;
  std::int64_t time = 0;
  ASSERT_EQ(storage->clearList("alice", snapshot->passwordHash, ++clock, snapshot->listTime,
                               cleared, time),
            "");
  EXPECT_EQ(cleared, WriteResult::Conflict);
}

TEST_F(Versions, HistoryKeepsReplacedListsWithStableNumbersAndPrunesAtTheLimit) {
  open({true, 3});
  std::optional<Account> account;
  ASSERT_EQ(storage->findAccount("alice", account), "");
  std::vector<std::int64_t> times = {account->listTime};  // the new account's empty list
  std::vector<std::string> documents = {""};
  for (int i = 1; i <= 4; ++i) {
    std::string items;
    for (int j = 0; j < i; ++j) items += bookmark("v" + std::to_string(i));
    ASSERT_EQ(put(listOf(items)).status, 200);
    ASSERT_EQ(storage->findAccount("alice", account), "");
    times.push_back(account->listTime);
    documents.push_back(*account->document);
  }
  // Version n is the list that upload n replaced; only the newest three
  // are kept, newest first.
  std::vector<ListVersion> versions = history();
  ASSERT_EQ(versions.size(), 3u);
  for (const ListVersion& v : versions) {
    SCOPED_TRACE(v.number);
    const std::size_t n = static_cast<std::size_t>(v.number);
    EXPECT_EQ(v.listTime, times[n - 1]);
    EXPECT_EQ(v.items, static_cast<std::int64_t>(n - 1));
    EXPECT_EQ(v.bytes, static_cast<std::int64_t>(documents[n - 1].size()));
  }
  EXPECT_EQ(numbers(), (std::vector<std::int64_t>{4, 3, 2}));
  // A remove keeps the list too; the numbers already given stay.
  ASSERT_EQ(request("PUT", "remove").status, 200);
  EXPECT_EQ(numbers(), (std::vector<std::int64_t>{5, 4, 3}));
  EXPECT_EQ(history()[1].listTime, times[3]);

  std::string table;
  ASSERT_EQ(showHistory(*storage, "alice", table), "");
  EXPECT_NE(table.find(" current  " + current() + "          0             0\n"), std::string::npos)
      << table;
  EXPECT_NE(table.find("       5  " + stamp(times[4]) + "          4  "), std::string::npos)
      << table;
  EXPECT_EQ(table.find("\n       2  "), std::string::npos) << table;
}

TEST_F(Versions, RestoreMakesAVersionCurrentUnderANewTimeAndKeepsEveryVersion) {
  open({true, 3});
  for (const char* name : {"one", "two", "three", "four"}) {
    ASSERT_EQ(put(listOf(bookmark(name) + "<folder><name>f</name><children>" + bookmark("in") +
                         "<separator/></children></folder>"))
                  .status,
              200);
  }
  ASSERT_EQ(request("PUT", "remove").status, 200);  // the damage
  const std::string damaged = current();
  ASSERT_EQ(numbers(), (std::vector<std::int64_t>{5, 4, 3}));
  const ListVersion four = history()[0];
  EXPECT_EQ(four.items, 4);

  std::string message;
  ASSERT_EQ(restoreList(*storage, "alice", "5", ++clock, message), "");
  EXPECT_NE(message.find("Version 5 of alice is the current list now"), std::string::npos);
  // A client holding the damaged version gets the restored list as "full",
  // under a time stamp later than any before.
  HttpResponse r = request("GET", "get", "&timestamp=" + damaged);
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(r.body);
  ASSERT_TRUE(doc);
  xmlNode* root = exchange::rootElement(doc.get());
  EXPECT_EQ(exchange::attribute(root, "type"), "full");
  EXPECT_EQ(exchange::attribute(root, "timestamp"), current());
  EXPECT_GT(current(), damaged);
  EXPECT_EQ(namesOf(r.body), "four f in");
  // The emptied list became version 6; version 5 stays; nothing is pruned
  // although four versions are over the limit of three.
  EXPECT_EQ(numbers(), (std::vector<std::int64_t>{6, 5, 4, 3}));
  EXPECT_EQ(history()[0].listTime, exchange::parseTimestamp(damaged));
  EXPECT_EQ(history()[0].items, 0);
  std::optional<ListVersion> now;
  std::vector<ListVersion> versions;
  ASSERT_EQ(storage->listHistory("alice", now, versions), "");
  EXPECT_EQ(now->items, 4);
  // The next upload prunes back to the limit.
  ASSERT_EQ(put(listOf(bookmark("five"))).status, 200);
  EXPECT_EQ(numbers(), (std::vector<std::int64_t>{7, 6, 5}));

  // An empty version restores an empty list.
  ASSERT_EQ(restoreList(*storage, "alice", "6", ++clock, message), "");
  EXPECT_EQ(namesOf(get().body), "");

  struct Row {
    const char* name;
    const char* number;
    const char* error;
  };
  const Row refused[] = {
      {"alice", "3", "the user alice has no version 3"},
      {"alice", "99", "the user alice has no version 99"},
      {"alice", "0", "the version number must be a whole number from 1 on"},
      {"alice", "5x", "the version number must be a whole number from 1 on"},
      {"bob", "5", "there is no user bob"},
  };
  for (const Row& row : refused) {
    SCOPED_TRACE(row.number);
    EXPECT_EQ(restoreList(*storage, row.name, row.number, ++clock, message).rfind(row.error, 0),
              0u);
  }
  std::string table;
  EXPECT_EQ(showHistory(*storage, "bob", table), "there is no user bob");
}

TEST_F(Versions, DeletingAnAccountDeletesItsVersions) {
  ASSERT_EQ(put(listOf(bookmark("a"))).status, 200);
  ASSERT_EQ(put(listOf(bookmark("b"))).status, 200);
  ASSERT_EQ(history().size(), 2u);
  ASSERT_EQ(deleteUser(*storage, "alice"), "");
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.path() / "service.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM versions", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(s, 0), 0);
  sqlite3_finalize(s);
  sqlite3_close(db);
  // An account of the same name starts a history of its own.
  ASSERT_EQ(addUser(*storage, "alice", "pw", clock), "");
  ASSERT_EQ(put(listOf(bookmark("c"))).status, 200);
  EXPECT_EQ(numbers(), (std::vector<std::int64_t>{1}));
}

TEST_F(Versions, ItemsAreCountedAtEveryDepth) {
  ListDocument list;
  ASSERT_EQ(ListDocument::parse(listOf(bookmark("a") + "<separator/>" +
                                       "<folder><name>f</name><children>" + bookmark("b") +
                                       "<folder><name>g</name><children><separator/>"
                                       "</children></folder></children>"
                                       // only the first children element counts
                                       "<children>" +
                                       bookmark("ignored") +
                                       "</children></folder>"
                                       "<folder><name>no children</name></folder><other/>"),
                                list),
            "");
  EXPECT_EQ(list.items(), 7);
}

// The schema as the first version of the service created it.
constexpr const char* kFirstSchema =
    "CREATE TABLE accounts (name TEXT PRIMARY KEY NOT NULL, password_hash TEXT NOT NULL,"
    " created INTEGER NOT NULL, list_time INTEGER NOT NULL, document BLOB);";

TEST(SchemaUpgrade, AFirstVersionDatabaseOpensAndGainsTheHistory) {
  testsupport::TempDir dir;
  const auto file = dir.path() / "old.db";
  std::string hash;
  ASSERT_EQ(hashPassword("pw", hash), "");
  ListDocument list;
  ASSERT_EQ(ListDocument::parse(listOf(bookmark("a") + bookmark("b")), list), "");
  const std::string document = list.render(kStart);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, kFirstSchema, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO accounts VALUES ('alice', ?1, 1, ?2, ?3)", -1, &s,
                                 nullptr),
              SQLITE_OK);
    sqlite3_bind_text(s, 1, hash.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, kStart);
    sqlite3_bind_blob(s, 3, document.data(), static_cast<int>(document.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(s), SQLITE_DONE);
    sqlite3_finalize(s);
    sqlite3_close(db);
  }
  std::unique_ptr<SqliteStorage> storage;
  ASSERT_EQ(SqliteStorage::open(file, storage, {false, 50}), "");
  std::optional<Account> account;
  ASSERT_EQ(storage->findAccount("alice", account), "");
  ASSERT_TRUE(account && account->document);
  EXPECT_EQ(*account->document, document);
  std::optional<ListVersion> current;
  std::vector<ListVersion> versions;
  ASSERT_EQ(storage->listHistory("alice", current, versions), "");
  EXPECT_EQ(current->items, 2);
  EXPECT_EQ(current->bytes, static_cast<std::int64_t>(document.size()));
  EXPECT_TRUE(versions.empty());
  // Writes keep versions from now on.
  WriteResult result;
  std::int64_t time = 0;
  ASSERT_EQ(storage->clearList("alice", hash, kStart + 5, kStart, result, time), "");
  EXPECT_EQ(result, WriteResult::Done);
  ASSERT_EQ(storage->listHistory("alice", current, versions), "");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0].number, 1);
  EXPECT_EQ(versions[0].items, 2);
  storage.reset();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* s = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(s, 0), kSchemaVersion);
  sqlite3_finalize(s);
  // A database from a newer program is not touched.
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version = 3", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  EXPECT_NE(SqliteStorage::open(file, storage).find("schema version 3"), std::string::npos);
}

TEST(SchemaUpgrade, OnlyACreatingOpenMakesADatabase) {
  testsupport::TempDir dir;
  std::unique_ptr<SqliteStorage> storage;
  const auto missing = dir.path() / "typo.db";
  EXPECT_EQ(SqliteStorage::open(missing, storage, {false, 50}),
            "there is no database " + missing.string());
  EXPECT_FALSE(std::filesystem::exists(missing));
  // An existing file that holds no accounts is not taken for a database.
  const auto other = dir.path() / "other.db";
  std::ofstream{other};
  EXPECT_NE(SqliteStorage::open(other, storage, {false, 50}).find("not a quorvane-service"),
            std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(other), 0u);
  EXPECT_EQ(SqliteStorage::open(missing, storage), "");
  EXPECT_TRUE(std::filesystem::exists(missing));
}

}  // namespace
}  // namespace service
