#include "engine/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "engine/client_app.h"
#include "engine/engine_test_support.h"
#include "engine/list_limit.h"
#include "exchange/timestamp.h"
#include "platform/network.h"
#include "tests/support/http_test_server.h"
#include "tests/support/proxy_process.h"
#include "tests/support/scoped_env.h"

namespace corvex {
namespace {

using testsupport::ScopedEnv;
using testsupport::SeenRequest;
using testsupport::TestResponse;

constexpr char kXmlBody[] = "<?xml version=\"1.0\"?>\n<bookmarks type=\"full\"/>\n";

TestResponse respond(int status, const std::string& body) {
  TestResponse response;
  response.status = status;
  response.body = body;
  return response;
}

class TransportTest : public corvex::test::EngineTest {
 protected:
  void SetUp() override {
    app_.server = "127.0.0.1/data";
    app_.serverPort = server_.port();
    app_.username = "alice";
    app_.password = "s3cret pw";
  }
  std::string path(const std::string& query) const { return "/data?" + query; }

  testsupport::NoProxyEnvironment noProxy_;
  testsupport::HttpTestServer server_;
  ClientApp app_{"Explorer"};
};

// ------------------------------------------------------------ request URL

TEST_F(TransportTest, RequestUrlTable) {
  const std::time_t stamp = exchange::parseTimestamp("2005-03-07-09-05-00");
  struct Row {
    const char* label;
    std::string server;
    uint32_t port;
    std::string user;
    std::string pass;
    std::time_t last;
    RequestKind kind;
    std::string expected;
  };
  const Row rows[] = {
      {"first get has no timestamp", "quorvane.example/data", 80, "u", "p", 0, RequestKind::Get,
       "http://quorvane.example:80/data?user=u&pass=p&function=get"},
      {"later get carries the timestamp", "quorvane.example/data", 80, "u", "p", stamp, RequestKind::Get,
       "http://quorvane.example:80/data?user=u&pass=p&function=get&timestamp=2005-03-07-09-05-00"},
      {"put never carries it", "quorvane.example/data", 8080, "u", "p", stamp, RequestKind::Put,
       "http://quorvane.example:8080/data?user=u&pass=p&function=put"},
      {"remove", "h/a/b", 81, "u", "p", stamp, RequestKind::Remove,
       "http://h:81/a/b?user=u&pass=p&function=remove"},
      {"empty password still sent", "h/data", 80, "u", "", 0, RequestKind::Get,
       "http://h:80/data?user=u&pass=&function=get"},
      {"reserved characters unchanged", "h/data", 80, "a@b", "x&y=z+/:?", 0, RequestKind::Get,
       "http://h:80/data?user=a@b&pass=x&y=z+/:?&function=get"},
      {"others escaped", "h/data", 80, "j d", "%#\"<>\xC3\xA9", 0, RequestKind::Get,
       "http://h:80/data?user=j%20d&pass=%25%23%22%3C%3E%C3%A9&function=get"},
      {"empty server", "", 80, "u", "p", 0, RequestKind::Get, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    app_.server = row.server;
    app_.serverPort = row.port;
    app_.username = row.user;
    app_.password = row.pass;
    app_.lastSyncTime = row.last;
    EXPECT_EQ(buildRequestUrl(app_, row.kind), row.expected);
  }
}

TEST_F(TransportTest, ServerWithoutSlashIsReadAsAUriReference) {
  // A bare reference is a relative path for the URI library: no host, so the
  // URL cannot be requested.
  app_.server = "quorvane.example";
  app_.serverPort = 80;
  app_.username = "u";
  app_.password = "p";
  EXPECT_EQ(buildRequestUrl(app_, RequestKind::Get), "http:quorvane.example?user=u&pass=p&function=get");
  app_.server = "x?a=1&b";
  EXPECT_EQ(buildRequestUrl(app_, RequestKind::Put), "http:x?a=1&b=&user=u&pass=p&function=put");
  std::string body = "unchanged";
  EXPECT_EQ(downloadList(app_, &body), kDownloadBadUrl);
  EXPECT_EQ(body, "");
  EXPECT_NE(logText().find("Explorer: Requested url is bad.\n"), std::string::npos);
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), kUploadBadUrl);
  EXPECT_NE(logText().find("Explorer: Put url is bad.\n"), std::string::npos);
}

TEST_F(TransportTest, LoggedUrlHidesThePassword) {
  app_.password = "a&b=c d";
  EXPECT_EQ(requestUrlForLog(app_, RequestKind::Get),
            "http://127.0.0.1:" + std::to_string(server_.port()) + "/data?user=alice&pass=***&function=get");
  server_.setHandler([](const SeenRequest&) { return respond(200, kXmlBody); });
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  ASSERT_EQ(uploadList(app_, kXmlBody, RequestKind::Remove), "");
  // What is sent is unchanged.
  ASSERT_EQ(server_.seen().size(), 3u);
  EXPECT_EQ(server_.seen()[0].target, path("user=alice&pass=a&b=c%20d&function=get"));
  const std::string log = logText();
  EXPECT_NE(log.find("Requested url is: http://127.0.0.1:" + std::to_string(server_.port()) +
                     "/data?user=alice&pass=***&function=get.\n"),
            std::string::npos);
  EXPECT_NE(log.find("pass=***&function=remove.\n"), std::string::npos);
  EXPECT_NE(log.find("pass=***&function=put.\n"), std::string::npos);
  EXPECT_EQ(log.find("c%20d"), std::string::npos);
  EXPECT_EQ(log.find("a&b=c"), std::string::npos);
}

// ------------------------------------------------------------ proxy header

TEST(ProxyAuthorization, Base64) {
  struct Row {
    const char* in;
    const char* out;
  };
  const Row rows[] = {
      {"", ""}, {"a", "YQ=="}, {"ab", "YWI="}, {"abc", "YWJj"}, {"username:", "dXNlcm5hbWU6"},
      {"\xff\xfe\xfd", "//79"}, {"bob:pa55", "Ym9iOnBhNTU="},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.in);
    EXPECT_EQ(base64Encode(row.in), row.out);
  }
}

TEST_F(TransportTest, ProxyHeaderIsSentEvenWithoutAProxy) {
  app_.proxyAuth = 1;
  app_.proxyUsername = "bob";
  app_.proxyPassword = "pa55";
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  ASSERT_EQ(uploadList(app_, kXmlBody, RequestKind::Remove), "");
  ASSERT_EQ(server_.seen().size(), 3u);
  for (const SeenRequest& request : server_.seen()) {
    SCOPED_TRACE(request.target);
    EXPECT_EQ(request.headers.at("proxy-authorization"), "Basic Ym9iOnBhNTU=");
    EXPECT_EQ(request.headers.at("user-agent"), kUserAgent);
  }
  app_.proxyAuth = 0;
  ASSERT_EQ(downloadList(app_, &body), "");
  EXPECT_EQ(server_.seen().back().headers.count("proxy-authorization"), 0u);
}

// ---------------------------------------------------------------- download

TEST_F(TransportTest, DownloadSucceedsOnlyWhenTheBodyStartsWithXml) {
  struct Row {
    const char* label;
    int status;
    std::string body;
    bool ok;
  };
  const Row rows[] = {
      {"xml", 200, kXmlBody, true},
      {"status is not looked at", 500, kXmlBody, true},
      {"redirect is not followed; its body decides", 302, "<?xml version=\"1.0\"?><bookmarks/>", true},
      {"html error page", 401, "<!DOCTYPE html><html>no</html>", false},
      {"leading white space", 200, std::string(" ") + kXmlBody, false},
      {"byte-order mark", 200, std::string("\xEF\xBB\xBF") + kXmlBody, false},
      {"empty", 200, "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    server_.setHandler([&row](const SeenRequest&) {
      TestResponse response = respond(row.status, row.body);
      if (row.status == 302) response.headers["Location"] = "/elsewhere";
      return response;
    });
    std::string body = "unchanged";
    const std::string error = downloadList(app_, &body);
    EXPECT_EQ(error, row.ok ? "" : kDownloadNotXml);
    EXPECT_EQ(body, row.ok ? row.body : "");
    EXPECT_NE(logText().find("Downloading has been finished successfully. Downloaded content is: " + row.body +
                             ".\n"),
              std::string::npos);
  }
  for (const SeenRequest& request : server_.seen()) EXPECT_EQ(request.target.rfind("/data?", 0), 0u);
}

TEST_F(TransportTest, DownloadLogsEveryStep) {
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  const std::string log = logText();
  const size_t started = log.find("Explorer: Downloading has been started.\n");
  const size_t url = log.find("Explorer: Requested url is: ");
  const size_t finished = log.find("Explorer: Downloading has been finished successfully.");
  ASSERT_NE(started, std::string::npos);
  ASSERT_NE(url, std::string::npos);
  ASSERT_NE(finished, std::string::npos);
  EXPECT_LT(started, url);
  EXPECT_LT(url, finished);
}

TEST_F(TransportTest, DownloadOverTheLimitFailsAsANetworkError) {
  server_.setHandler([](const SeenRequest&) {
    return respond(200, "<?xml version=\"1.0\"?>" + std::string(kMaxDownloadBytes, ' '));
  });
  std::string body = "unchanged";
  EXPECT_EQ(downloadList(app_, &body), kDownloadFailed);
  EXPECT_EQ(body, "");
  const std::string log = logText();
  EXPECT_NE(log.find("Downloading has been failed - "), std::string::npos);
  EXPECT_NE(log.find("Downloading has been failed after fetching with unknown error.\n"), std::string::npos);
  EXPECT_EQ(log.find("Downloaded content is"), std::string::npos);
}

TEST_F(TransportTest, UnreachableOrSilentServiceFailsAsANetworkError) {
  testsupport::SilentServer silent;
  ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "300");
  for (unsigned port : {static_cast<unsigned>(testsupport::freeLoopbackPort()),
                        static_cast<unsigned>(silent.port())}) {
    SCOPED_TRACE(port);
    app_.serverPort = port;
    std::string body = "unchanged";
    EXPECT_EQ(downloadList(app_, &body), kDownloadFailed);
    EXPECT_EQ(body, "");
    EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), kUploadFailed);
  }
  const std::string log = logText();
  EXPECT_NE(log.find("Downloading has been failed after fetching with unknown error.\n"), std::string::npos);
  EXPECT_NE(log.find("Uploading has been failed after performing with unknown error.\n"), std::string::npos);
  EXPECT_NE(log.find("Explorer: Downloading has been failed - fewer than 1024 bytes came from the service in "
                     "0.3 s.\n"),
            std::string::npos);
  EXPECT_NE(log.find("Explorer: Uploading has been failed - fewer than 1024 bytes went to or came from the "
                     "service in 0.3 s.\n"),
            std::string::npos);
}

TEST_F(TransportTest, TricklingOrEndlessAnswerEndsTheDownload) {
  // A window of 0.4 s and a deadline of 4 s. The trickle never falls silent
  // for long; the endless answer passes the low-speed limit with ease.
  ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "400");
  struct Row {
    const char* label;
    std::string part;
    std::chrono::milliseconds pause;
    const char* cause;
  };
  const Row rows[] = {
      {"one byte every 50 ms", "<", std::chrono::milliseconds(50),
       "fewer than 1024 bytes came from the service in 0.4 s"},
      {"16 KB every 5 ms without end", std::string(16384, ' '), std::chrono::milliseconds(5),
       "the transfer did not end within 4 s"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    server_.setHandler([&row](const SeenRequest&) {
      TestResponse response;
      response.stream = testsupport::repeatParts(row.part, row.pause);
      return response;
    });
    const auto started = std::chrono::steady_clock::now();
    std::string body = "unchanged";
    EXPECT_EQ(downloadList(app_, &body), kDownloadFailed);
    EXPECT_EQ(body, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_NE(logText().find(std::string("Explorer: Downloading has been failed - ") + row.cause + ".\n"),
              std::string::npos);
  }
}

TEST_F(TransportTest, ListOverTheItemLimitIsRefusedBeforeItIsParsed) {
  // One folder holding the other items, whose names are whole only once the
  // line breaks are dropped, as they are before the list is parsed.
  auto list = [](size_t items) {
    std::string text = "<?xml version=\"1.0\"?>\n<bookmarks type=\"full\">\n<folder><name>f</name><children>";
    for (size_t i = 1; i < items; ++i) text += "<book\nmark/>";
    return text + "</children></folder></bookmarks>\n";
  };
  const std::string longest = list(exchange::kMaxListItems);
  const std::string tooLong = list(exchange::kMaxListItems + 1);
  server_.setHandler([&tooLong](const SeenRequest&) { return respond(200, tooLong); });
  std::string body = "unchanged";
  EXPECT_EQ(downloadList(app_, &body), kTooManyServiceItems);
  EXPECT_EQ(body, "");
  EXPECT_NE(logText().find("Explorer: Downloaded list has been refused - it holds more than 300000 items.\n"),
            std::string::npos);
  EXPECT_EQ(logText().find("Downloaded content is"), std::string::npos);

  server_.setHandler([&longest](const SeenRequest&) { return respond(200, longest); });
  ASSERT_EQ(downloadList(app_, &body), "");
  EXPECT_EQ(body, longest);
}

TEST_F(TransportTest, LocalListOverTheItemLimitIsRefused) {
  // The hand-over text keeps its control bytes: a name broken by a tab does
  // not parse, and so is no item.
  std::string text = "<?xml version=\"1.0\"?><bookmarks>";
  for (size_t i = 0; i < exchange::kMaxListItems; ++i) text += "<separator/>";
  EXPECT_EQ(checkListLength(app_, text + "<book\tmark/></bookmarks>", ListOrigin::Local), "");
  EXPECT_EQ(checkListLength(app_, text + "<bookmark/></bookmarks>", ListOrigin::Local), kTooManyLocalItems);
  EXPECT_NE(logText().find("Explorer: List given from extension has been refused - it holds more than 300000 "
                           "items.\n"),
            std::string::npos);
}

// ------------------------------------------------------------------ upload

TEST_F(TransportTest, PutSendsTheDocument) {
  ASSERT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), "");
  ASSERT_EQ(server_.seen().size(), 1u);
  EXPECT_EQ(server_.seen()[0].method, "PUT");
  EXPECT_EQ(server_.seen()[0].target, path("user=alice&pass=s3cret%20pw&function=put"));
  EXPECT_EQ(server_.seen()[0].body, kXmlBody);
  const std::string log = logText();
  EXPECT_NE(log.find(std::string("Uploading has been started. Uploaded content is: ") + kXmlBody + ". \n"),
            std::string::npos);
  EXPECT_NE(log.find("Uploading has been finished successfully.\n"), std::string::npos);
}

TEST_F(TransportTest, RemoveMakesTwoRequestsOnOneConnection) {
  ASSERT_EQ(uploadList(app_, kXmlBody, RequestKind::Remove), "");
  const auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "PUT");
  EXPECT_EQ(seen[0].target, path("user=alice&pass=s3cret%20pw&function=remove"));
  EXPECT_EQ(seen[0].body, "");
  EXPECT_EQ(seen[0].headers.at("content-length"), "0");
  EXPECT_EQ(seen[1].target, path("user=alice&pass=s3cret%20pw&function=put"));
  EXPECT_EQ(seen[1].body, kXmlBody);
  EXPECT_EQ(seen[0].remotePort, seen[1].remotePort);
}

// Only the answer to the "put" names the stored version; the answer to the
// "remove" before it is looked at for its status alone.
TEST_F(TransportTest, StoredTimeComesFromTheAnswerToThePut) {
  const std::string stamped =
      "<?xml version=\"1.0\"?><bookmarks type=\"skip\" timestamp=\"2007-02-03-04-05-06\"/>";
  const std::time_t stored = exchange::parseTimestamp("2007-02-03-04-05-06");
  struct Row {
    const char* label;
    RequestKind kind;
    std::string removeBody;
    std::string putBody;
    std::time_t expected;
  };
  const Row rows[] = {
      {"put", RequestKind::Put, "", stamped, stored},
      {"put answered without a body", RequestKind::Put, "", "", 0},
      {"remove, then put", RequestKind::Remove, "", stamped, stored},
      {"only the remove names a version", RequestKind::Remove, stamped, "Stored.\n", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    server_.setHandler([&row](const SeenRequest& request) {
      const bool remove = request.target.find("function=remove") != std::string::npos;
      return respond(200, remove ? row.removeBody : row.putBody);
    });
    std::time_t storedTime = -1;
    ASSERT_EQ(uploadList(app_, kXmlBody, row.kind, "", &storedTime), "");
    EXPECT_EQ(storedTime, row.expected);
  }
  // A refused put names nothing.
  server_.setHandler([&stamped](const SeenRequest&) { return respond(500, stamped); });
  std::time_t storedTime = -1;
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put, "", &storedTime), kUploadFailed);
  EXPECT_EQ(storedTime, 0);
}

TEST_F(TransportTest, RefusedUploadFails) {
  server_.setHandler([](const SeenRequest&) { return respond(401, "<html>no</html>"); });
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), kUploadFailed);
  EXPECT_NE(logText().find("Explorer: Uploading has been failed - HTTP status 401.\n"), std::string::npos);
  EXPECT_EQ(logText().find("Uploading has been finished successfully"), std::string::npos);
  // A refused "remove" stops before the "put".
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Remove), kUploadFailed);
  EXPECT_EQ(server_.seen().size(), 2u);
  server_.setHandler([](const SeenRequest&) { return respond(204, ""); });
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), "");
}

// ------------------------------------------------------------------ proxies

class ProxyTransportTest : public TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    ASSERT_TRUE(proxy_.start("bob", "pa55"));
    app_.proxyAuth = 1;
    app_.proxyUsername = "bob";
    app_.proxyPassword = "pa55";
  }
  std::string proxiedLine(const std::string& method, const std::string& query) const {
    return method + " http://127.0.0.1:" + std::to_string(server_.port()) + "/data?" + query + " HTTP/1.1";
  }
  void writeScript(const std::string& answer) {
    std::ofstream(scriptPath()) << "function FindProxyForURL(url, host) { return \"" << answer << "\"; }\n";
  }
  std::filesystem::path scriptPath() const { return dir_.path() / "proxy.pac"; }

  testsupport::TempDir dir_;
  testsupport::ProxyProcess proxy_{dir_.path()};
};

TEST_F(ProxyTransportTest, ManualProxyWithAuthorisation) {
  ScopedEnv manual("http_proxy", "http://" + proxy_.hostPort());
  EXPECT_TRUE(findSystemProxy("http://127.0.0.1/data").found);
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  ASSERT_EQ(uploadList(app_, kXmlBody, RequestKind::Remove), "");
  EXPECT_EQ(proxy_.requestLines(),
            (std::vector<std::string>{proxiedLine("GET", "user=alice&pass=s3cret%20pw&function=get"),
                                      proxiedLine("PUT", "user=alice&pass=s3cret%20pw&function=remove"),
                                      proxiedLine("PUT", "user=alice&pass=s3cret%20pw&function=put")}));
  EXPECT_EQ(server_.seen().size(), 3u);

  // Without the header the proxy refuses. Its page happens to start with
  // "<?xml" and so passes the download's only test (the procedure then finds
  // no list in it); the refused upload is a failure.
  app_.proxyAuth = 0;
  EXPECT_EQ(downloadList(app_, &body), "");
  EXPECT_NE(body.find("Proxy Authentication Required"), std::string::npos);
  EXPECT_EQ(uploadList(app_, kXmlBody, RequestKind::Put), kUploadFailed);
  EXPECT_EQ(server_.seen().size(), 3u);
}

TEST_F(ProxyTransportTest, BypassListGoesDirect) {
  ScopedEnv manual("http_proxy", proxy_.hostPort());
  ScopedEnv bypass("no_proxy", "localhost,127.0.0.1");
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  EXPECT_TRUE(proxy_.requestLines().empty());
  EXPECT_EQ(server_.seen().size(), 1u);
}

TEST_F(ProxyTransportTest, AutomaticScriptChoosesTheProxy) {
  ScopedEnv pac("QUORVANE_PROXY_PAC_URL", "file://" + scriptPath().string());
  writeScript("proxy  " + proxy_.hostPort() + "  ");
  const SystemProxy found = findSystemProxy("http://127.0.0.1/data");
  EXPECT_TRUE(found.found);
  EXPECT_EQ(found.server, proxy_.hostPort());
  EXPECT_EQ(found.bypass, "");
  std::string body;
  ASSERT_EQ(downloadList(app_, &body), "");
  EXPECT_EQ(proxy_.requestLines().size(), 1u);
  // No script file is left behind.
  EXPECT_TRUE(std::filesystem::is_empty(prefix_.path() / "tmp"));

  for (const char* answer : {"DIRECT", "PROXIES 127.0.0.1:1", "SOCKS 127.0.0.1:1"}) {
    SCOPED_TRACE(answer);
    writeScript(answer);
    EXPECT_FALSE(findSystemProxy("http://127.0.0.1/data").found);
    ASSERT_EQ(downloadList(app_, &body), "");
  }
  EXPECT_EQ(proxy_.requestLines().size(), 1u);
}

TEST_F(ProxyTransportTest, NoProxyWhenOfflineOrTheScriptFails) {
  ScopedEnv pac("QUORVANE_PROXY_PAC_URL", "file://" + scriptPath().string());
  writeScript("PROXY " + proxy_.hostPort());
  ASSERT_TRUE(platform::setInternetOffline(true));
  EXPECT_FALSE(findSystemProxy("http://127.0.0.1/data").found);
  ASSERT_TRUE(platform::setInternetOffline(false));
  EXPECT_EQ(autoProxyLookup(std::nullopt, "not a url"), std::nullopt);
  EXPECT_EQ(autoProxyLookup("file://" + scriptPath().string(), "not a url"), std::nullopt);
  EXPECT_EQ(autoProxyLookup("file://" + (dir_.path() / "missing.pac").string(), "http://h/"), std::nullopt);
  EXPECT_EQ(autoProxyLookup("file://" + scriptPath().string(), "http://h/"), "PROXY " + proxy_.hostPort());
}

}  // namespace
}  // namespace corvex
