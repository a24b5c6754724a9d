// Whole synchronisations through the engine's exports against the reference
// service on a loopback port: the outcomes of the procedure as the service,
// the cache file, the log and the returned document show them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "engine/client_app.h"
#include "engine/procedure.h"
#include "platform/http_client.h"
#include "tests/support/child_process.h"
#include "tests/support/engine_library.h"
#include "tests/support/http_test_server.h"
#include "tests/support/proxy_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/service_process.h"
#include "tests/support/temp_prefix.h"

namespace {

using testsupport::ScopedEnv;

constexpr char kUser[] = "alice";
constexpr char kPassword[] = "s3cret pw";

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// An exchange document with one bookmark per name, numbered in that order.
std::string listDocument(const std::vector<std::string>& names) {
  std::string text =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" \"exchange.dtd\">\n"
      "<bookmarks>\n";
  int order = 0;
  for (const std::string& name : names) {
    text += "  <bookmark order=\"" + std::to_string(order++) + "\">\n    <name>" + name +
            "</name>\n    <link>http://" + name + ".example/</link>\n  </bookmark>\n";
  }
  return text + "</bookmarks>\n";
}

// Items as another client may write them, for documents built by hand.
std::string bookmark(const std::string& name, const std::string& link = "") {
  return "<bookmark><name>" + name + "</name><link>" + (link.empty() ? "http://" + name + ".example/" : link) +
         "</link></bookmark>";
}
std::string folder(const std::string& name, const std::string& items) {
  return "<folder><name>" + name + "</name><children>" + items + "</children></folder>";
}
// A folder that holds a description and no `children` element.
std::string folderWithoutChildren(const std::string& name) {
  return "<folder><name>" + name + "</name><description>kept by another client</description></folder>";
}
std::string document(const std::string& items) {
  return "<?xml version=\"1.0\"?>\n<bookmarks type=\"full\">" + items + "</bookmarks>\n";
}

// The bookmark and folder names of a document, sorted; "<none>" for a text
// without a bookmarks root.
std::vector<std::string> names(const std::string& document) {
  if (document.find("<bookmarks") == std::string::npos) return {"<none>"};
  std::vector<std::string> found;
  const std::string open = "<name>";
  for (size_t at = document.find(open); at != std::string::npos; at = document.find(open, at)) {
    at += open.size();
    const size_t end = document.find("</name>", at);
    if (end == std::string::npos) break;
    found.push_back(document.substr(at, end - at));
  }
  std::sort(found.begin(), found.end());
  return found;
}

using Names = std::vector<std::string>;

// The "timestamp" attribute of a document's root, or "".
std::string rootStamp(const std::string& text) {
  const size_t root = text.find("<bookmarks");
  if (root == std::string::npos) return "";
  const size_t rootEnd = text.find('>', root);
  const std::string key = "timestamp=\"";
  const size_t at = text.find(key, root);
  if (at == std::string::npos || at > rootEnd) return "";
  return text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
}

class EngineSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service_.addUser(kUser, kPassword));
    ASSERT_TRUE(service_.start());
    writeSettings([this](corvex::ClientApp& app) { app.serverPort = service_.port(); });
  }
  void TearDown() override { engine_.reset(); }

  // The settings file as the engine writes it: the test's service and
  // account, then the edit. The engine must not be loaded (it would write
  // its own values at unload).
  void writeSettings(const std::function<void(corvex::ClientApp&)>& edit) {
    ASSERT_FALSE(engine_) << "unload the engine first";
    corvex::ClientApp app("Explorer");
    app.server = "127.0.0.1/data";
    app.serverPort = service_.port();
    app.username = kUser;
    app.password = kPassword;
    edit(app);
    // The destructor writes the settings file.
  }

  testsupport::EngineLibrary& engine() {
    if (!engine_) {
      engine_ = std::make_unique<testsupport::EngineLibrary>(libraryDir_.path());
      EXPECT_TRUE(engine_->loaded()) << engine_->error();
    }
    return *engine_;
  }
  void restartEngine() { engine_.reset(); }

  struct Result {
    bool ok;
    std::string data;
    std::string error;
  };
  Result sync(const std::string& input) {
    Result result{false, input, "old error"};
    result.ok = engine().synchronize(false, "Explorer", &result.data, &result.error);
    EXPECT_EQ(result.ok, result.error.empty());
    if (!result.ok) {
      EXPECT_EQ(result.data, input) << "a failed run must leave data alone";
    }
    return result;
  }

  void writeMethodFile(const std::string& text) {
    std::ofstream(libraryDir_.path() / "syncMethod.ini", std::ios::binary) << text;
  }

  // The service's stored list, as its administration command prints it.
  std::string serviceList() {
    std::string out;
    EXPECT_EQ(testsupport::runProgram({(testsupport::binaryDir() / "quorvane-service").string(), "export",
                                       kUser, "--database", service_.database().string()},
                                      "", &out),
              0);
    return out;
  }
  // Stores a list at the service as another computer would.
  void putAtService(const std::vector<std::string>& list) { putDocumentAtService(listDocument(list)); }
  void putDocumentAtService(const std::string& text) {
    platform::HttpSession session("test", platform::InternetAccess::Direct);
    platform::HttpConnection connection(session, "127.0.0.1", service_.port());
    platform::HttpRequest request(connection, "PUT", "/data?user=alice&pass=s3cret%20pw&function=put", 0);
    ASSERT_EQ(request.send(text), "");
    ASSERT_EQ(request.statusCode(), 200u);
  }

  std::filesystem::path dataFolder() const { return prefix_.path() / "profile/AppData/Roaming/BookmarkPlugin"; }
  std::filesystem::path cachePath() const { return dataFolder() / "bookmarkscache_Explorer.xml"; }
  bool cacheExists() const { return std::filesystem::exists(cachePath()); }
  std::string cacheText() const { return readText(cachePath()); }
  std::string logText() const { return readText(dataFolder() / "bookmarks.log"); }
  size_t logCount(const std::string& line) const {
    const std::string log = logText();
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
  }
  // The root's "timestamp" attribute in the cache file, or "".
  std::string cacheStamp() const { return rootStamp(cacheText()); }
  // The time stamp of the version the service stores.
  std::string serviceStamp() { return rootStamp(serviceList()); }

  testsupport::TempPrefix prefix_;
  testsupport::NoProxyEnvironment noProxy_;
  testsupport::TempDir serviceDir_;
  testsupport::TempDir libraryDir_;
  testsupport::ServiceProcess service_{serviceDir_.path()};
  std::unique_ptr<testsupport::EngineLibrary> engine_;
};

// -------------------------------------------------------- first synchronisation

TEST_F(EngineSyncTest, FirstMergeUploadsAndReturnsTheUnion) {
  putAtService({"server1"});
  const Result result = sync(listDocument({"local1"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(result.data), (Names{"local1", "server1"}));
  EXPECT_EQ(names(serviceList()), (Names{"local1", "server1"}));
  EXPECT_EQ(names(cacheText()), (Names{"local1", "server1"}));
  EXPECT_NE(cacheStamp(), "");
  EXPECT_EQ(logCount("Explorer: Error while opening file: " + (libraryDir_.path() / "syncMethod.ini").string() + "\n"),
            1u);
  EXPECT_EQ(logCount("Sychronization: server xml has been changed because 'type'='full'.\n"), 1u);
  EXPECT_EQ(logCount("Sychronization has been finished successfully. Output data to browser is: <?xml"), 1u);
  EXPECT_EQ(logText().find("s3cret"), std::string::npos) << "the password reached the log";

  // The host applied the result: the next run changes nothing.
  const Result again = sync(result.data);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.data, "");
}

// Equal lists end the run without upload and without output, but the cache
// takes the service's version, so that the next run is answered "skip".
TEST_F(EngineSyncTest, LocalEqualToServerCachesTheServiceVersionWithoutUpload) {
  putAtService({"a", "b"});
  const std::string before = serviceList();
  const Result result = sync(listDocument({"a", "b"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(serviceList(), before);
  EXPECT_EQ(names(cacheText()), (Names{"a", "b"}));
  EXPECT_EQ(cacheStamp(), rootStamp(before));
  EXPECT_EQ(logCount("Sychronization has been finished - no changes detected.\n"), 1u);
  EXPECT_EQ(logCount("Uploading has been started"), 0u);
  EXPECT_EQ(logCount("Output data to browser"), 0u);

  const std::string cache = cacheText();
  const Result again = sync(listDocument({"a", "b"}));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.data, "");
  EXPECT_EQ(logCount("Sychronization: server xml hasn't been changed because 'type'='skip'.\n"), 1u);
  EXPECT_EQ(cacheText(), cache);
  EXPECT_EQ(logCount("Uploading has been started"), 0u);
}

// A cache of the same list under an older time stamp (another client stored
// the list again, or this computer was killed between its upload and its
// cache write) is brought up to the service's version by a run that finds
// nothing to change.
TEST_F(EngineSyncTest, EqualListsReplaceAnOutdatedCacheStamp) {
  putAtService({"a"});
  ASSERT_TRUE(sync(listDocument({"a"})).ok);
  const std::string old = cacheStamp();
  putAtService({"a"});  // the same list, stored again as a new version
  ASSERT_NE(serviceStamp(), old);
  const Result result = sync(listDocument({"a"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(cacheStamp(), serviceStamp());
  EXPECT_EQ(logCount("Sychronization has been finished - no changes detected.\n"), 2u);
}

// After this computer's own upload its cache carries the version the service
// stored, so that the next idle run downloads no list.
TEST_F(EngineSyncTest, AfterItsOwnUploadTheNextRunIsAnsweredSkip) {
  putAtService({"a"});
  const std::string before = serviceStamp();
  Result result = sync(listDocument({"a", "b"}));  // merged differs from the service only
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(logCount("Uploading has been finished successfully.\n"), 1u);
  EXPECT_NE(serviceStamp(), before);
  EXPECT_EQ(cacheStamp(), serviceStamp());

  result = sync(listDocument({"a", "b", "c"}));  // a "skip" answer, then the input goes up
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(logCount("Uploading has been finished successfully.\n"), 2u);
  EXPECT_EQ(cacheStamp(), serviceStamp());

  result = sync(listDocument({"a", "b", "c"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(logCount("Sychronization: server xml hasn't been changed because 'type'='skip'.\n"), 2u);
  EXPECT_EQ(logCount("'type'='full'"), 1u);
  EXPECT_EQ(logCount("Uploading has been started"), 2u);
}

TEST_F(EngineSyncTest, MergeThatOnlyTheServerLacksIsUploadedNotReturned) {
  putAtService({"a"});
  const Result result = sync(listDocument({"a", "b"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(names(serviceList()), (Names{"a", "b"}));
  EXPECT_EQ(names(cacheText()), (Names{"a", "b"}));
  EXPECT_EQ(logCount("Uploading has been finished successfully.\n"), 1u);
}

TEST_F(EngineSyncTest, MergeThatOnlyTheLocalSideLacksIsReturnedNotUploaded) {
  putAtService({"a", "b"});
  const std::string before = serviceList();
  const Result result = sync(listDocument({"a"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(result.data), (Names{"a", "b"}));
  EXPECT_EQ(serviceList(), before);
  EXPECT_EQ(names(cacheText()), (Names{"a", "b"}));
  EXPECT_EQ(logCount("Uploading has been started"), 0u);
}

TEST_F(EngineSyncTest, MergeWithTheCacheCarriesDeletionsBothWays) {
  putAtService({"a", "b", "c"});
  Result first = sync(listDocument({"a", "b", "c"}));  // equal: cached as the service holds it
  ASSERT_TRUE(first.ok);
  first = sync(listDocument({"a", "b", "c", "d"}));  // merged differs from server only
  ASSERT_TRUE(first.ok) << first.error;
  ASSERT_EQ(names(cacheText()), (Names{"a", "b", "c", "d"}));
  // Another computer deletes "a"; this one deletes "b".
  putAtService({"b", "c", "d"});
  const Result result = sync(listDocument({"a", "c", "d"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(result.data), (Names{"c", "d"}));
  EXPECT_EQ(names(serviceList()), (Names{"c", "d"}));
  EXPECT_EQ(names(cacheText()), (Names{"c", "d"}));
}

// A cache that cannot be written (a folder in its place) does not fail the
// run, whose lists are agreed already; the log tells.
TEST_F(EngineSyncTest, CacheThatCannotBeWrittenIsLogged) {
  putAtService({"a"});
  std::filesystem::create_directories(cachePath() / "in the way");
  const Result result = sync(listDocument({"a", "b"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(serviceList()), (Names{"a", "b"}));
  EXPECT_EQ(logCount("Sychronization: the local cache could not be saved (could not write "), 1u) << logText();
}

// ------------------------------------------- lists that other clients wrote

// A folder with a description and no `children` comes from the service,
// then sits in the cache: no run fails, and the deletions of both sides
// still go through.
TEST_F(EngineSyncTest, FolderWithoutChildrenFromTheServiceThenInTheCache) {
  putAtService({"both"});
  ASSERT_TRUE(sync(listDocument({"both", "gone"})).ok);
  ASSERT_EQ(names(cacheText()), (Names{"both", "gone"}));

  // Another client deletes "gone", adds "server" and the folder G; this
  // host deletes "gone" and adds "local".
  putDocumentAtService(document(bookmark("both") + folderWithoutChildren("G") + bookmark("server")));
  const Result first = sync(listDocument({"both", "local"}));
  ASSERT_TRUE(first.ok) << first.error;
  const Names afterFirst{"G", "both", "local", "server"};
  EXPECT_EQ(names(first.data), afterFirst);
  EXPECT_EQ(names(serviceList()), afterFirst);
  ASSERT_EQ(names(cacheText()), afterFirst);
  ASSERT_NE(cacheText().find("<description>kept by another client</description></folder>"), std::string::npos);

  // Then the other client deletes "server" and adds "server2"; this host,
  // whose G came back from its folder as an empty one, deletes "both" and
  // adds "mine".
  putDocumentAtService(document(bookmark("both") + folderWithoutChildren("G") + bookmark("local") +
                                bookmark("server2")));
  const Result second =
      sync(document(folder("G", "") + bookmark("local") + bookmark("server") + bookmark("mine")));
  ASSERT_TRUE(second.ok) << second.error;
  const Names afterSecond{"G", "local", "mine", "server2"};
  EXPECT_EQ(names(second.data), afterSecond);
  EXPECT_EQ(names(serviceList()), afterSecond);
  EXPECT_EQ(names(cacheText()), afterSecond);
}

// The same kind of folder in the list this host sends: one of them takes
// the contents of the service's new folder of its name.
TEST_F(EngineSyncTest, FolderWithoutChildrenInTheLocalList) {
  putAtService({"both"});
  ASSERT_TRUE(sync(listDocument({"both", "gone", "gone2"})).ok);
  ASSERT_EQ(names(cacheText()), (Names{"both", "gone", "gone2"}));

  putDocumentAtService(
      document(bookmark("both") + bookmark("gone2") + bookmark("server") + folder("H", bookmark("x"))));
  const Result result = sync(document(bookmark("both") + bookmark("gone") + bookmark("local") +
                                      folderWithoutChildren("G") + folderWithoutChildren("H")));
  ASSERT_TRUE(result.ok) << result.error;
  const Names expected{"G", "H", "both", "local", "server", "x"};
  EXPECT_EQ(names(result.data), expected);
  EXPECT_EQ(names(serviceList()), expected);
  EXPECT_EQ(names(cacheText()), expected);

  const Result again = sync(result.data);
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(again.data, "");
}

// Sibling folders and bookmarks of one name, stored by another client: each
// run unites them, puts the united list back, and logs what it left out.
TEST_F(EngineSyncTest, DuplicatesFromTheServiceAreUnited) {
  const std::string secondA = bookmark("a", "http://second-a.example/");
  const std::string secondY = bookmark("y", "http://second-y.example/");
  putDocumentAtService(document(bookmark("a") + secondA + folder("F", bookmark("x") + bookmark("y")) +
                                folder("F", secondY + bookmark("z")) + bookmark("b")));
  const Result first = sync(listDocument({"b", "c"}));
  ASSERT_TRUE(first.ok) << first.error;
  const Names afterFirst{"F", "a", "b", "c", "x", "y", "z"};
  EXPECT_EQ(names(first.data), afterFirst);
  EXPECT_EQ(names(serviceList()), afterFirst);
  EXPECT_EQ(names(cacheText()), afterFirst);
  EXPECT_EQ(serviceList().find("second-"), std::string::npos);
  EXPECT_EQ(logCount("Explorer: Bookmark \"a\" appears more than once in \"\\\"; the first is kept, the one "
                     "linking to \"http://second-a.example/\" is left out.\n"),
            1u);
  EXPECT_EQ(logCount("Explorer: Bookmark \"y\" appears more than once in \"\\F\""), 1u);

  // The other client stores its duplicates again, with "w" new in its
  // second F; this host deletes "c".
  putDocumentAtService(document(bookmark("a") + secondA + folder("F", bookmark("x") + bookmark("y")) +
                                folder("F", secondY + bookmark("z") + bookmark("w")) + bookmark("b") +
                                bookmark("c")));
  const Result second =
      sync(document(bookmark("a") + folder("F", bookmark("x") + bookmark("y") + bookmark("z")) + bookmark("b")));
  ASSERT_TRUE(second.ok) << second.error;
  const Names afterSecond{"F", "a", "b", "w", "x", "y", "z"};
  EXPECT_EQ(names(second.data), afterSecond);
  EXPECT_EQ(names(serviceList()), afterSecond);
  EXPECT_EQ(names(cacheText()), afterSecond);
}

// ------------------------------------------------ the service answers "skip"

TEST_F(EngineSyncTest, TakeServerThenSkipAnswers) {
  putAtService({"s1"});
  writeMethodFile("firstSyncMethod1=0\r\nfirstSyncMethod2 = 1\r\n");
  const std::string stored = serviceList();

  // "full", method 1: the server's copy, nothing uploaded.
  Result result = sync(listDocument({"l1"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(result.data), (Names{"s1"}));
  EXPECT_EQ(serviceList(), stored);
  EXPECT_EQ(names(cacheText()), (Names{"s1"}));
  const std::string cache = cacheText();
  const std::string stamp = cacheStamp();
  EXPECT_NE(stored.find("timestamp=\"" + stamp + "\""), std::string::npos) << "cache carries the server's stamp";

  // "skip" with the cache equal to the local list: nothing at all.
  result = sync(result.data);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(cacheText(), cache);
  EXPECT_EQ(serviceList(), stored);
  EXPECT_EQ(logCount("Sychronization: server xml hasn't been changed because 'type'='skip'.\n"), 1u);

  // "skip" with a local change: the input goes up with "put" and becomes
  // the cache, under the version the service stored it as.
  result = sync(listDocument({"s1", "l2"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(names(serviceList()), (Names{"l2", "s1"}));
  EXPECT_EQ(names(cacheText()), (Names{"l2", "s1"}));
  EXPECT_NE(cacheStamp(), stamp);
  EXPECT_EQ(cacheStamp(), serviceStamp());
}

TEST_F(EngineSyncTest, DeletedCacheMakesTheNextRunAFirstOneAgain) {
  putAtService({"s1"});
  writeMethodFile("firstSyncMethod2=1\n");
  ASSERT_TRUE(sync(listDocument({"x"})).ok);
  ASSERT_TRUE(std::filesystem::remove(cachePath()));
  // No cache: the request has no time stamp, the service answers "full",
  // and the method file decides again.
  Result result = sync(listDocument({"s1", "y"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(result.data), (Names{"s1"}));
  EXPECT_EQ(logCount("Error while opening file"), 0u);
}

// A cache file that is there but does not parse (cut short here, as an
// in-place write stopped by a kill leaves it) is no first synchronisation:
// whatever the method file says, the lists are merged without it, which
// deletes nothing and replaces no list.
class DamagedCacheTest : public EngineSyncTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DamagedCacheTest, MergesWithoutDeletions) {
  putAtService({"agreed"});
  ASSERT_TRUE(sync(listDocument({"agreed", "mine"})).ok);
  const std::string cache = cacheText();
  ASSERT_EQ(names(cache), (Names{"agreed", "mine"}));
  std::ofstream(cachePath(), std::ios::binary | std::ios::trunc) << cache.substr(0, cache.size() / 2);
  writeMethodFile(GetParam());

  // Another client adds "theirs"; this host deletes "agreed" and adds "local".
  putAtService({"agreed", "mine", "theirs"});
  const Result result = sync(listDocument({"mine", "local"}));
  ASSERT_TRUE(result.ok) << result.error;
  const Names expected{"agreed", "local", "mine", "theirs"};
  EXPECT_EQ(names(result.data), expected);
  EXPECT_EQ(names(serviceList()), expected);
  EXPECT_EQ(names(cacheText()), expected);
  EXPECT_EQ(logCount("Explorer: Sychronization: the local cache " + cachePath().string() +
                     " could not be read; the lists are merged without it, so nothing is deleted in this run.\n"),
            1u);
  EXPECT_EQ(logCount("&function=remove"), 0u);
  EXPECT_EQ(logCount("Error while opening file"), 1u) << "the method file is read at the first run only";
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, DamagedCacheTest,
                         ::testing::Values("firstSyncMethod1=1\n", "firstSyncMethod2=1\n", "firstSyncMethod3=1\n"));

// ----------------------------------------------------------- method 2

TEST_F(EngineSyncTest, TakeLocalReplacesTheServerListWithoutAsking) {
  putAtService({"s1", "s2"});
  writeMethodFile("firstSyncMethod1=0\nfirstSyncMethod2=0\nfirstSyncMethod3=1\n");
  const Result result = sync(listDocument({"l1"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(names(serviceList()), (Names{"l1"}));
  EXPECT_EQ(names(cacheText()), (Names{"l1"}));
  EXPECT_EQ(logCount("Downloading has been started"), 0u);
  EXPECT_EQ(logCount("&function=remove.\n"), 1u);
  EXPECT_EQ(logCount("&function=put.\n"), 1u);
  // The cache's stamp is the version the service stored, named in its
  // answer to the "put".
  EXPECT_EQ(cacheStamp(), serviceStamp());
  const Result again = sync(listDocument({"l1"}));
  ASSERT_TRUE(again.ok) << again.error;
  EXPECT_EQ(logCount("'type'='skip'"), 1u);
}

// ------------------------------------------------------------------ failures

class EngineFailureTest : public EngineSyncTest {
 protected:
  void SetUp() override {
    EngineSyncTest::SetUp();
    std::filesystem::create_directories(dataFolder());
    std::ofstream(cachePath(), std::ios::binary) << kCache;
  }
  void expectCacheUntouched() { EXPECT_EQ(cacheText(), kCache); }
  static constexpr char kCache[] =
      "<?xml version=\"1.0\"?>\n<bookmarks timestamp=\"2005-03-07-09-05-00\"><bookmark><name>cached</name>"
      "</bookmark></bookmarks>\n";
};

TEST_F(EngineFailureTest, WrongPassword) {
  writeSettings([this](corvex::ClientApp& app) {
    app.serverPort = service_.port();
    app.password = "wrong one";
  });
  const Result result = sync(listDocument({"a"}));
  EXPECT_EQ(result.error, "Downloading has been failed. Maybe username and password are incorrect?");
  expectCacheUntouched();
  EXPECT_EQ(logCount("Sychronization has been finished with error while downloading: Downloading has been failed. "
                     "Maybe username and password are incorrect?.\n"),
            1u);
  EXPECT_EQ(logText().find("wrong one"), std::string::npos);
  EXPECT_EQ(logText().find("wrong%20one"), std::string::npos);
}

TEST_F(EngineFailureTest, ServiceDownOrSilent) {
  service_.stop();
  Result result = sync(listDocument({"a"}));
  EXPECT_EQ(result.error, "Can't connect. Please check proxy and connection settings.");
  expectCacheUntouched();

  testsupport::SilentServer silent;
  restartEngine();
  writeSettings([&](corvex::ClientApp& app) { app.serverPort = silent.port(); });
  ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "400");
  result = sync(listDocument({"a"}));
  EXPECT_EQ(result.error, "Can't connect. Please check proxy and connection settings.");
  EXPECT_EQ(logCount("Downloading has been failed after fetching with unknown error.\n"), 2u);
  expectCacheUntouched();
}

TEST_F(EngineFailureTest, BadInputOrDisabled) {
  Result result = sync("<bookmarks><unclosed></bookmarks>");
  EXPECT_EQ(result.error, "Could not parse XML with bookmarks given from extension");
  restartEngine();
  writeSettings([this](corvex::ClientApp& app) {
    app.serverPort = service_.port();
    app.enabled = 0;
  });
  result = sync(listDocument({"a"}));
  EXPECT_EQ(result.error, "Synchronization isn't enabled");
  EXPECT_EQ(logCount("Downloading has been started"), 0u);
  expectCacheUntouched();
}

// Answers the service would never give, from a server of the test's.
class OddServiceTest : public EngineFailureTest {
 protected:
  void SetUp() override {
    EngineFailureTest::SetUp();
    writeSettings([this](corvex::ClientApp& app) { app.serverPort = odd_.port(); });
  }
  void answer(int getStatus, const std::string& getBody, int putStatus, const std::string& putBody = "") {
    odd_.setHandler([=](const testsupport::SeenRequest& request) {
      testsupport::TestResponse response;
      response.status = request.method == "GET" ? getStatus : putStatus;
      response.body = request.method == "GET" ? getBody : putBody;
      return response;
    });
  }
  testsupport::HttpTestServer odd_;
};

TEST_F(OddServiceTest, DownloadedTextThatIsNotAList) {
  struct Row {
    const char* label;
    std::string body;
    std::string error;
  };
  const Row rows[] = {
      {"not well-formed", "<?xml version=\"1.0\"?><bookmarks>", "Could not parse downloaded XML"},
      {"no type", "<?xml version=\"1.0\"?><bookmarks timestamp=\"2006-01-01-00-00-00\"/>",
       "Could not parse downloaded XML. Bookmarks type attribute does not found."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    answer(200, row.body, 200);
    const Result result = sync(listDocument({"a"}));
    EXPECT_EQ(result.error, row.error);
    expectCacheUntouched();
  }
  EXPECT_EQ(logCount("Uploading has been started"), 0u);
}

TEST_F(OddServiceTest, ControlBytesInTheAnswerAreDropped) {
  answer(200,
         "<?xml version=\"1.0\"?>\r\n<bookmarks type=\"full\">\r\n\t<bookmark><name>cached</name></bookmark>\r\n"
         "</bookmarks>\r\n",
         200);
  // Equal to the local list once CR, LF and TAB are gone.
  const Result result = sync("<?xml version=\"1.0\"?><bookmarks><bookmark><name>cached</name></bookmark></bookmarks>");
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(logCount("no changes detected"), 1u);
}

TEST_F(OddServiceTest, SkipUploadsTheInputUnderTheKnownStamp) {
  const std::string input = listDocument({"a"});
  // Without a stamp in the answer the cache's stamp stays.
  answer(200, "<?xml version=\"1.0\"?><bookmarks type=\"skip\"/>", 200);
  Result result = sync(input);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.data, "");
  EXPECT_EQ(odd_.seen()[0].target,
            "/data?user=alice&pass=s3cret%20pw&function=get&timestamp=2005-03-07-09-05-00");
  EXPECT_EQ(odd_.seen()[1].target,
            "/data?user=alice&pass=s3cret%20pw&function=put&timestamp=2005-03-07-09-05-00");
  EXPECT_EQ(names(odd_.seen()[1].body), (Names{"a"}));
  EXPECT_EQ(names(cacheText()), (Names{"a"}));
  EXPECT_EQ(cacheStamp(), "2005-03-07-09-05-00");

  // Without a cache the request has no stamp; the answer's stamp is kept.
  ASSERT_TRUE(std::filesystem::remove(cachePath()));
  answer(200, "<?xml version=\"1.0\"?><bookmarks type=\"Full\" timestamp=\"2006-01-02-03-04-05\"/>", 200);
  result = sync(listDocument({"b"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(odd_.seen()[2].target, "/data?user=alice&pass=s3cret%20pw&function=get");
  EXPECT_EQ(odd_.seen()[3].method, "PUT");
  EXPECT_EQ(names(cacheText()), (Names{"b"}));
  EXPECT_EQ(cacheStamp(), "2006-01-02-03-04-05");
  EXPECT_EQ(logCount("'type'='skip'"), 2u) << "only \"full\" exactly means changed";
}

// The cache takes the time stamp that the answer to the upload names; any
// other answer leaves the rule of services that answer nothing: the version
// the list was built from.
TEST_F(OddServiceTest, TheUploadAnswerNamesTheCachedVersionOnlyWhenItCan) {
  constexpr char kBuiltOn[] = "2006-01-01-00-00-00";
  struct Row {
    const char* label;
    std::string putBody;
    std::string cacheStamp;
  };
  const Row rows[] = {
      {"a stored version", "<?xml version=\"1.0\"?>\n<bookmarks type=\"skip\" timestamp=\"2007-02-03-04-05-06\"/>\n",
       "2007-02-03-04-05-06"},
      {"any root", "<?xml version=\"1.0\"?><stored timestamp=\"2007-02-03-04-05-06\"/>", "2007-02-03-04-05-06"},
      {"no body", "", kBuiltOn},
      {"a text", "Stored; the list's time stamp is 2007-02-03-04-05-06.\n", kBuiltOn},
      {"XML without a time stamp", "<?xml version=\"1.0\"?><bookmarks type=\"skip\"/>", kBuiltOn},
      {"a time stamp that is no time", "<?xml version=\"1.0\"?><bookmarks timestamp=\"later\"/>", kBuiltOn},
      {"not well-formed", "<?xml version=\"1.0\"?><bookmarks timestamp=\"2007-02-03-04-05-06\">", kBuiltOn},
      {"space before the declaration", " <?xml version=\"1.0\"?><bookmarks timestamp=\"2007-02-03-04-05-06\"/>",
       kBuiltOn},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::ofstream(cachePath(), std::ios::binary | std::ios::trunc) << kCache;
    answer(200,
           std::string("<?xml version=\"1.0\"?><bookmarks type=\"full\" timestamp=\"") + kBuiltOn +
               "\">" + bookmark("cached") + "</bookmarks>",
           200, row.putBody);
    const Result result = sync(listDocument({"cached", "local"}));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(odd_.seen().back().target,
              std::string("/data?user=alice&pass=s3cret%20pw&function=put&timestamp=") + kBuiltOn);
    EXPECT_EQ(names(cacheText()), (Names{"cached", "local"}));
    EXPECT_EQ(cacheStamp(), row.cacheStamp);
    // The next run asks with it.
    const size_t before = odd_.seen().size();
    sync(listDocument({"cached", "local"}));
    ASSERT_GT(odd_.seen().size(), before);
    EXPECT_EQ(odd_.seen()[before].target,
              "/data?user=alice&pass=s3cret%20pw&function=get&timestamp=" + row.cacheStamp);
  }
}

TEST_F(OddServiceTest, RefusedUploadFailsAndTheNextRunTriesAgain) {
  answer(200, "<?xml version=\"1.0\"?><bookmarks type=\"full\" timestamp=\"2006-01-01-00-00-00\"/>", 401);
  Result result = sync(listDocument({"a"}));
  EXPECT_EQ(result.error, "Can't put the data. Please check proxy and connection settings.");
  EXPECT_EQ(logCount("Uploading has been failed - HTTP status 401.\n"), 1u);
  EXPECT_EQ(logCount("Sychronization has been finished with error: Can't put the data."), 1u);
  expectCacheUntouched();

  answer(200, "<?xml version=\"1.0\"?><bookmarks type=\"full\" timestamp=\"2006-01-01-00-00-00\"/>", 200);
  result = sync(listDocument({"a"}));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(names(cacheText()), (Names{"a"}));
  EXPECT_EQ(odd_.seen().back().method, "PUT");
}

// A service whose list another computer replaces while this one merges:
// download i answers `versions[i]` under the stamp 2006-01-01-00-00-0i, and
// right after it the next version is stored. A put is refused (409) unless
// it names the newest stored version and `acceptPuts` is set.
struct ChangingService {
  std::vector<std::vector<std::string>> versions;
  bool acceptPuts = true;
};

class ConflictTest : public OddServiceTest {
 protected:
  void serve(const ChangingService& service) {
    auto downloads = std::make_shared<size_t>(0);
    odd_.setHandler([service, downloads](const testsupport::SeenRequest& request) {
      testsupport::TestResponse response;
      const size_t newest = std::min(*downloads, service.versions.size() - 1);
      const std::string newestStamp = "2006-01-01-00-00-0" + std::to_string(newest);
      if (request.method == "GET") {
        const size_t index = std::min(*downloads, service.versions.size() - 1);
        ++*downloads;
        std::string list = listDocument(service.versions[index]);
        list.replace(list.find("<bookmarks>"), 11,
                     "<bookmarks type=\"full\" timestamp=\"2006-01-01-00-00-0" + std::to_string(index) + "\">");
        response.body = list;
      } else {
        const bool current = request.target.find("&timestamp=" + newestStamp) != std::string::npos;
        response.status = service.acceptPuts && current ? 200 : 409;
        response.body = response.status == 200 ? "Stored.\n" : "Changed meanwhile.\n";
      }
      return response;
    });
  }
};

TEST_F(ConflictTest, RefusedPutIsMergedAgainWithTheNewerList) {
  // The first answer is outdated by the time the put arrives.
  serve({{{"cached"}, {"cached", "s2"}}, true});
  const Result result = sync(listDocument({"cached", "l1"}));
  ASSERT_TRUE(result.ok) << result.error;
  const auto seen = odd_.seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[1].target, "/data?user=alice&pass=s3cret%20pw&function=put&timestamp=2006-01-01-00-00-00");
  EXPECT_EQ(seen[2].target, "/data?user=alice&pass=s3cret%20pw&function=get&timestamp=2005-03-07-09-05-00")
      << "the second download asks from the same cache";
  EXPECT_EQ(seen[3].target, "/data?user=alice&pass=s3cret%20pw&function=put&timestamp=2006-01-01-00-00-01");
  EXPECT_EQ(names(seen[3].body), (Names{"cached", "l1", "s2"}));
  EXPECT_EQ(names(result.data), (Names{"cached", "l1", "s2"}));
  EXPECT_EQ(names(cacheText()), (Names{"cached", "l1", "s2"}));
  EXPECT_EQ(cacheStamp(), "2006-01-01-00-00-01");
  EXPECT_EQ(logCount("Uploading has been refused - the list on the service has changed since it was downloaded "
                     "(HTTP status 409).\n"),
            1u);
  EXPECT_EQ(logCount("downloaded and merged again (attempt 2 of 3)"), 1u);
}

TEST_F(ConflictTest, ThirdConflictEndsTheRunWithNothingChanged) {
  serve({{{"cached"}, {"cached", "s2"}, {"cached", "s3"}}, false});
  const Result result = sync(listDocument({"cached", "l1"}));
  EXPECT_EQ(result.error, corvex::kListKeptChanging);
  EXPECT_EQ(odd_.seen().size(), 6u) << "three downloads, three puts";
  EXPECT_EQ(logCount("(attempt 3 of 3)"), 1u);
  EXPECT_EQ(logCount("Sychronization has been finished with error: The bookmark list on the service kept changing"),
            1u);
  expectCacheUntouched();

  // A 409 to an unconditional request is a plain refusal.
  restartEngine();
  writeSettings([this](corvex::ClientApp& app) { app.serverPort = odd_.port(); });
  ASSERT_TRUE(std::filesystem::remove(cachePath()));
  writeMethodFile("firstSyncMethod3=1\n");
  EXPECT_EQ(sync(listDocument({"l1"})).error, "Can't put the data. Please check proxy and connection settings.");
}

// -------------------------------------------------------------- through a proxy

TEST_F(EngineSyncTest, ExactRequestsThroughAnAuthenticatingProxy) {
  testsupport::TempDir proxyDir;
  testsupport::ProxyProcess proxy(proxyDir.path());
  ASSERT_TRUE(proxy.start("bob", "pa55"));
  ScopedEnv manual("http_proxy", "http://" + proxy.hostPort() + "/");
  writeSettings([this](corvex::ClientApp& app) {
    app.serverPort = service_.port();
    app.proxyAuth = 1;
    app.proxyUsername = "bob";
    app.proxyPassword = "pa55";
  });
  putAtService({"s1"});
  const std::string before = serviceStamp();
  ASSERT_TRUE(sync(listDocument({"l1"})).ok);
  const std::string stamp = cacheStamp();
  ASSERT_EQ(stamp, serviceStamp());
  const Result again = sync(listDocument({"l1", "s1"}));
  ASSERT_TRUE(again.ok) << again.error;

  const std::string base = "http://127.0.0.1:" + std::to_string(service_.port()) + "/data?user=alice&pass=s3cret%20pw";
  EXPECT_EQ(proxy.requestLines(),
            (std::vector<std::string>{"GET " + base + "&function=get HTTP/1.1",
                                      // The version the merge was built from.
                                      "PUT " + base + "&function=put&timestamp=" + before + " HTTP/1.1",
                                      // The version the put was stored as.
                                      "GET " + base + "&function=get&timestamp=" + stamp + " HTTP/1.1"}));
  EXPECT_EQ(logText().find("s3cret"), std::string::npos);
  EXPECT_EQ(logText().find("pa55"), std::string::npos);
}

}  // namespace
