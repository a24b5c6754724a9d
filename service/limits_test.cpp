// The size limits of stored lists: the item count (through handleRequest)
// and the body size and a large list over loopback.
#include <gtest/gtest.h>

#include <ctime>

#include "exchange/timestamp.h"
#include "service/handler.h"
#include "service/testing/test_service.h"

namespace service {
namespace {

using testing::fetch;
using testing::RunningService;

std::string listOf(const std::string& items) {
  return "<?xml version=\"1.0\"?>\n<bookmarks>" + items + "</bookmarks>\n";
}

std::string repeated(const std::string& item, int count) {
  std::string out;
  out.reserve(item.size() * static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) out += item;
  return out;
}

TEST(Limits, ListsOfMoreItemsThanTheLimitAreRefusedBeforeTheyAreStored) {
  RunningService service;
  service.addAccount("alice", "pw");
  PasswordChecker passwords;
  ServiceContext context{service.storage(), passwords, "/data", nullptr};
  const std::string folderOf10 =
      "<folder><name>f</name><children>" + repeated("<separator/>", 9) + "</children></folder>";
  struct Row {
    const char* label;
    std::string items;
    int status;
  };
  const Row rows[] = {
      {"at the limit", repeated("<separator/>", 300000), 200},
      {"one over", repeated("<separator/>", 300001), 413},
      {"one over, counted in folders", repeated(folderOf10, 30000) + "<bookmark/>", 413},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::optional<Account> before;
    ASSERT_EQ(service.storage().findAccount("alice", before), "");
    HttpResponse r =
        handleRequest(context, {"PUT", "/data?user=alice&pass=pw&function=put", listOf(row.items)});
    EXPECT_EQ(r.status, row.status) << r.body;
    std::optional<Account> after;
    ASSERT_EQ(service.storage().findAccount("alice", after), "");
    EXPECT_EQ(after->listTime != before->listTime, row.status == 200);
    if (row.status == 413) {
      EXPECT_NE(r.body.find("has 300001 items"), std::string::npos) << r.body;
      EXPECT_NE(r.body.find("at most 300000"), std::string::npos) << r.body;
    }
  }
}

TEST(Limits, BodiesOverTheConfiguredSizeAreRefused) {
  ServerOptions options;
  options.maxBodyBytes = 1u << 20;
  RunningService service(options);
  service.addAccount("alice", "pw");
  const std::string fits = listOf(repeated("<separator/>", ((1u << 20) - 100) / 12));
  const std::string over(options.maxBodyBytes + 1, ' ');
  struct Row {
    const char* label;
    const std::string& body;
    bool chunked;
    long status;
  };
  const Row rows[] = {
      {"just under", fits, false, 200},
      {"one byte over", over, false, 413},
      {"one byte over, chunked", over, true, 413},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    auto r = fetch("PUT", service.dataUrl("alice", "pw", "put"), row.body, {}, row.chunked);
    EXPECT_EQ(r.status, row.status) << r.error << r.body;
    if (row.status == 413) {
      EXPECT_EQ(r.body, "The body is too large: this service accepts at most 1 MiB.\n");
    }
  }
}

// A list as the service formats it: what it stores is then the upload
// itself with the new time stamp.
std::string largeList(int folders, int perFolder) {
  std::string text =
      "<?xml version=\"1.0\"?>\n"
      "<!DOCTYPE bookmarks PUBLIC \"-//Veltrane Corp.//Lark-Fen Exchange//EN\" "
      "\"exchange.dtd\">\n"
      "<bookmarks timestamp=\"2005-03-07-09-05-00\" type=\"full\">\n";
  int order = 0;
  for (int f = 0; f < folders; ++f) {
    text += "  <folder order=\"" + std::to_string(order++) + "\">\n    <name>Folder " +
            std::to_string(f) + "</name>\n    <children>\n";
    for (int b = 0; b < perFolder; ++b) {
      const std::string id = std::to_string(f) + "-" + std::to_string(b);
      text += "      <bookmark order=\"" + std::to_string(order++) + "\">\n        <name>Page " +
              id + " &amp; notes</name>\n        <link>https://www.example.org/section/" + id +
              "/index.html?from=list&amp;lang=en</link>\n        <description>Bookmark " + id +
              ", kept for the large list round trip of the reference service</description>\n"
              "      </bookmark>\n";
    }
    text += "    </children>\n  </folder>\n";
  }
  return text + "</bookmarks>\n";
}

TEST(Limits, AHundredThousandBookmarksAreStoredAndServedBackByteForByte) {
  RunningService service;
  service.addAccount("alice", "pw");
  const std::string upload = largeList(100, 1000);
  ASSERT_GT(upload.size(), 20u << 20);
  auto put = fetch("PUT", service.dataUrl("alice", "pw", "put"), upload);
  ASSERT_EQ(put.status, 200) << put.error << put.body;
  auto got = fetch("GET", service.dataUrl("alice", "pw", "get"));
  ASSERT_EQ(got.status, 200) << got.error;

  std::optional<Account> account;
  ASSERT_EQ(service.storage().findAccount("alice", account), "");
  std::string expected = upload;
  const std::string uploadedStamp = "timestamp=\"2005-03-07-09-05-00\"";
  expected.replace(expected.find(uploadedStamp), uploadedStamp.size(),
                   "timestamp=\"" +
                       exchange::formatTimestamp(static_cast<std::time_t>(account->listTime)) +
                       "\"");
  ASSERT_EQ(got.body.size(), expected.size());
  EXPECT_TRUE(got.body == expected);
  std::optional<ListVersion> current;
  std::vector<ListVersion> versions;
  ASSERT_EQ(service.storage().listHistory("alice", current, versions), "");
  EXPECT_EQ(current->items, 100100);
  EXPECT_EQ(current->bytes, static_cast<std::int64_t>(expected.size()));
}

}  // namespace
}  // namespace service
