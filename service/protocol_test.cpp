// The bookmark protocol over real HTTP against a running service.
#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <atomic>
#include <thread>

#include "exchange/document.h"
#include "exchange/timestamp.h"
#include "service/testing/test_service.h"

namespace service {
namespace {

using testing::fetch;
using testing::Reply;
using testing::RunningService;

std::string listOf(const std::string& items) {
  return "<?xml version=\"1.0\"?>\n"
         "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" "
         "\"exchange.dtd\">\n"
         "<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">" +
         items + "</bookmarks>\n";
}

std::string bookmark(const std::string& name) {
  return "<bookmark><name>" + name + "</name><link>http://example.org/" + name +
         "</link></bookmark>";
}

// The root of a downloaded document, read the way the engine reads it.
struct Answer {
  std::string type, timestamp;
  int items = -1;
  std::string firstName;
  bool uniform = true;  // every item has the first item's name
};

Answer readAnswer(const std::string& body) {
  Answer a;
  exchange::UniqueXmlDoc doc = exchange::parseDocumentText(body);
  if (!doc) return a;
  xmlNode* root = exchange::rootElement(doc.get());
  a.type = exchange::attribute(root, "type").value_or("(none)");
  a.timestamp = exchange::attribute(root, "timestamp").value_or("(none)");
  a.items = 0;
  for (xmlNode* n = root->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    std::string name = exchange::childText(n, "name").value_or("");
    if (a.items++ == 0) a.firstName = name;
    if (name != a.firstName) a.uniform = false;
  }
  return a;
}

class Protocol : public ::testing::Test {
 protected:
  void SetUp() override { service.addAccount("alice", "s3cret"); }
  Reply get(const std::string& extra = {}) {
    return fetch("GET", service.dataUrl("alice", "s3cret", "get", extra));
  }
  Reply put(const std::string& body) {
    return fetch("PUT", service.dataUrl("alice", "s3cret", "put"), body);
  }
  RunningService service;
};

TEST_F(Protocol, StatusTable) {
  struct Row {
    const char* label;
    const char* method;
    std::string url;
    std::string body;
    long status;
    bool xml;  // the body starts with "<?xml"
  };
  const std::string items = listOf(bookmark("a"));
  const Row rows[] = {
      {"get", "GET", service.dataUrl("alice", "s3cret", "get"), "", 200, true},
      {"put", "PUT", service.dataUrl("alice", "s3cret", "put"), items, 200, true},
      {"remove", "PUT", service.dataUrl("alice", "s3cret", "remove"), "", 200, true},
      {"wrong password", "GET", service.dataUrl("alice", "wrong", "get"), "", 401, false},
      {"empty password", "GET", service.dataUrl("alice", "", "get"), "", 401, false},
      {"unknown user", "GET", service.dataUrl("bob", "s3cret", "get"), "", 401, false},
      {"put, wrong password", "PUT", service.dataUrl("alice", "x", "put"), items, 401, false},
      {"no function", "GET", service.url("/data?user=alice&pass=s3cret"), "", 400, false},
      {"unknown function", "GET", service.dataUrl("alice", "s3cret", "fetch"), "", 400, false},
      {"put by GET", "GET", service.dataUrl("alice", "s3cret", "put"), "", 400, false},
      {"get by PUT", "PUT", service.dataUrl("alice", "s3cret", "get"), items, 400, false},
      {"body not XML", "PUT", service.dataUrl("alice", "s3cret", "put"), "bookmarks", 400, false},
      {"other root", "PUT", service.dataUrl("alice", "s3cret", "put"),
       "<?xml version=\"1.0\"?><x/>", 400, false},
      {"empty body", "PUT", service.dataUrl("alice", "s3cret", "put"), "", 400, false},
      {"other path", "GET", service.url("/datas?user=alice&pass=s3cret&function=get"), "", 404,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    Reply r = fetch(row.method, row.url, row.body);
    EXPECT_EQ(r.status, row.status) << r.error << r.body;
    EXPECT_EQ(r.body.rfind("<?xml", 0) == 0, row.xml) << r.body;
    EXPECT_FALSE(r.body.empty());
  }
}

TEST_F(Protocol, AnAccountWithoutAListGetsAnEmptyFullList) {
  Answer a = readAnswer(get().body);
  EXPECT_EQ(a.type, "full");
  EXPECT_EQ(a.items, 0);
  EXPECT_NE(exchange::parseTimestamp(a.timestamp), 0);
  // Its time stamp names the empty list like any other version.
  EXPECT_EQ(readAnswer(get("&timestamp=" + a.timestamp).body).type, "skip");
}

TEST_F(Protocol, SkipOnlyForTheStoredVersionAcrossTwoUploadsInOneSecond) {
  ASSERT_EQ(put(listOf(bookmark("first"))).status, 200);
  Answer first = readAnswer(get().body);
  ASSERT_EQ(put(listOf(bookmark("second") + bookmark("third"))).status, 200);
  Answer second = readAnswer(get().body);
  // Each version has its own time stamp, even within one second.
  EXPECT_NE(first.timestamp, second.timestamp);
  EXPECT_GT(second.timestamp, first.timestamp);

  Answer withOld = readAnswer(get("&timestamp=" + first.timestamp).body);
  EXPECT_EQ(withOld.type, "full");
  EXPECT_EQ(withOld.items, 2);
  EXPECT_EQ(withOld.firstName, "second");
  EXPECT_EQ(withOld.timestamp, second.timestamp);

  Answer withCurrent = readAnswer(get("&timestamp=" + second.timestamp).body);
  EXPECT_EQ(withCurrent.type, "skip");
  EXPECT_EQ(withCurrent.items, 0);
  EXPECT_EQ(withCurrent.timestamp, second.timestamp);

  // Unpadded fields name the same time; garbage names none.
  std::string unpadded;
  for (std::size_t start = 0; start < second.timestamp.size();) {
    std::size_t end = std::min(second.timestamp.find('-', start), second.timestamp.size());
    unpadded +=
        (start ? "-" : "") + std::to_string(std::stoi(second.timestamp.substr(start, end - start)));
    start = end + 1;
  }
  EXPECT_EQ(readAnswer(get("&timestamp=" + unpadded).body).type, "skip");
  EXPECT_EQ(readAnswer(get("&timestamp=yesterday").body).type, "full");
}

TEST_F(Protocol, RemoveClearsTheListWithANewTimeStamp) {
  ASSERT_EQ(put(listOf(bookmark("a"))).status, 200);
  Answer before = readAnswer(get().body);
  ASSERT_EQ(fetch("PUT", service.dataUrl("alice", "s3cret", "remove")).status, 200);
  Answer after = readAnswer(get("&timestamp=" + before.timestamp).body);
  EXPECT_EQ(after.type, "full");
  EXPECT_EQ(after.items, 0);
  EXPECT_GT(after.timestamp, before.timestamp);
}

TEST_F(Protocol, StoredListKeepsTextsAndCarriesTheStandardDeclaration) {
  // A foreign declaration is replaced; "&" and "<" survive; the answer's
  // root says full with the stored time whatever the upload said.
  std::string upload =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!DOCTYPE bookmarks SYSTEM \"other.dtd\">"
      "<bookmarks type=\"skip\" timestamp=\"1999-01-01-00-00-00\">"
      "<bookmark><name>A &amp; B &lt;\xE9&gt;</name><link>http://x/</link></bookmark></bookmarks>";
  ASSERT_EQ(put(upload).status, 200);
  std::string body = get().body;
  EXPECT_EQ(body.rfind("<?xml version=\"1.0\"?>\n", 0), 0u) << body;
  EXPECT_NE(body.find("<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" "
                      "\"exchange.dtd\">"),
            std::string::npos)
      << body;
  Answer a = readAnswer(body);
  EXPECT_EQ(a.type, "full");
  EXPECT_NE(a.timestamp, "1999-01-01-00-00-00");
  EXPECT_EQ(a.firstName, "A & B <\xC3\xA9>");
}

TEST_F(Protocol, PasswordsArriveAsTheEngineEscapesThem) {
  // The engine sends "+" and "=" unchanged and a space as %20.
  service.addAccount("carol", "a+b =c");
  EXPECT_EQ(fetch("GET", service.dataUrl("carol", "a+b%20=c", "get")).status, 200);
  EXPECT_EQ(fetch("GET", service.dataUrl("carol", "a%20b%20=c", "get")).status, 401);
}

TEST_F(Protocol, ConcurrentUploadsAndDownloadsNeverShowAHalfWrittenList) {
  // Every version holds 200 bookmarks named after the version.
  auto version = [](int v) {
    std::string items;
    for (int i = 0; i < 200; ++i) items += bookmark("v" + std::to_string(v));
    return listOf(items);
  };
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) {
        if (put(version(t * 100 + i)).status != 200) ++failures;
      }
    });
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        Answer a = readAnswer(get().body);
        bool whole = a.items == 0 || (a.items == 200 && a.uniform);
        if (a.type != "full" || !whole) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

TEST_F(Protocol, OfConcurrentUploadsBuiltOnOneVersionExactlyOneIsStored) {
  constexpr int kUploaders = 6;
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const std::string version = readAnswer(get().body).timestamp;
    std::atomic<int> stored{0}, refused{0}, other{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kUploaders; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready < kUploaders) std::this_thread::yield();
        Reply r = fetch("PUT", service.dataUrl("alice", "s3cret", "put", "&timestamp=" + version),
                        listOf(bookmark("c" + std::to_string(t))));
        (r.status == 200 ? stored : r.status == 409 ? refused : other)++;
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(stored.load(), 1);
    EXPECT_EQ(refused.load(), kUploaders - 1);
    EXPECT_EQ(other.load(), 0);
    // The stored list is the winner's, whole, and its predecessor was kept.
    Answer now = readAnswer(get().body);
    EXPECT_EQ(now.items, 1);
    EXPECT_NE(now.timestamp, version);
  }
  std::optional<ListVersion> current;
  std::vector<ListVersion> versions;
  ASSERT_EQ(service.storage().listHistory("alice", current, versions), "");
  EXPECT_EQ(versions.size(), 3u);
}

}  // namespace
}  // namespace service
