#include "platform/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <vector>

#include "platform/last_error.h"
#include "tests/support/child_process.h"
#include "tests/support/http_test_server.h"
#include "tests/support/proxy_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_prefix.h"

namespace {

using platform::HttpConnection;
using platform::HttpRequest;
using platform::HttpSession;
using platform::InternetAccess;

constexpr uint32_t kFlags = platform::kInternetFlagExistingConnect | platform::kInternetFlagNoAutoRedirect;

// Routes of the recording server used below.
testsupport::TestResponse answer(const testsupport::SeenRequest& request) {
  testsupport::TestResponse response;
  const std::string path = request.target.substr(0, request.target.find('?'));
  if (path == "/redirect") {
    response.status = 302;
    response.headers["Location"] = "/elsewhere";
    response.body = "moved";
  } else if (path == "/big") {
    response.body = std::string(5000, 'b') + "end";
  } else if (path == "/missing") {
    response.status = 404;
  } else {
    response.body = "<?xml version=\"1.0\"?><ok/>";
  }
  return response;
}

std::string readAll(HttpRequest& request) {
  std::string body;
  char chunk[1024];
  size_t got;
  while ((got = request.read(chunk, sizeof chunk)) != 0) body.append(chunk, got);
  return body;
}

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { server_.setHandler(answer); }
  testsupport::TempPrefix prefix_;
  testsupport::NoProxyEnvironment noProxy_;
  testsupport::HttpTestServer server_;
};

TEST_F(HttpClientTest, GetSendsObjectAndHeadersAndReadsTheBodyInChunks) {
  HttpSession session("Agent/1.0", InternetAccess::Preconfigured);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  HttpRequest request(connection, "GET", "/big?user=a%20b&x=1", kFlags);
  ASSERT_TRUE(request.valid());
  EXPECT_TRUE(request.addHeaders("X-One: first", platform::kHttpAddReqFlagAddIfNew));
  EXPECT_FALSE(request.addHeaders("x-one: second", platform::kHttpAddReqFlagAddIfNew));
  EXPECT_EQ(platform::lastError(), platform::kHttpHeaderAlreadyExists);
  ASSERT_EQ(request.send(), "");
  EXPECT_EQ(request.statusCode(), 200u);
  char chunk[1024];
  EXPECT_EQ(request.read(chunk, sizeof chunk), 1024u);
  std::string rest = readAll(request);
  EXPECT_EQ(rest.size(), 5003u - 1024u);
  EXPECT_EQ(request.read(chunk, sizeof chunk), 0u);

  auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "GET");
  EXPECT_EQ(seen[0].target, "/big?user=a%20b&x=1");
  EXPECT_EQ(seen[0].headers["user-agent"], "Agent/1.0");
  EXPECT_EQ(seen[0].headers.count("x-one"), 1u);
  EXPECT_EQ(seen[0].headers["x-one"], "first");
  EXPECT_EQ(seen[0].headers.count("accept"), 0u);
}

TEST_F(HttpClientTest, PutSendsTheBodyWithItsLength) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  {
    HttpRequest empty(connection, "PUT", "/data?function=remove", kFlags);
    ASSERT_EQ(empty.beginSend(0), "");
    ASSERT_EQ(empty.endSend(), "");
  }
  HttpRequest request(connection, "PUT", "/data?function=put", kFlags);
  ASSERT_EQ(request.beginSend(7), "");
  ASSERT_EQ(request.writeBody("<a/>"), "");
  ASSERT_EQ(request.writeBody("xyz"), "");
  ASSERT_EQ(request.endSend(), "");
  EXPECT_EQ(request.statusCode(), 200u);

  auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].method, "PUT");
  EXPECT_EQ(seen[0].body, "");
  EXPECT_EQ(seen[0].headers["content-length"], "0");
  EXPECT_EQ(seen[1].body, "<a/>xyz");
  EXPECT_EQ(seen[1].headers["content-length"], "7");
  EXPECT_EQ(seen[1].headers.count("expect"), 0u);
  // The second request reused the first one's connection.
  EXPECT_EQ(seen[0].remotePort, seen[1].remotePort);
}

TEST_F(HttpClientTest, BodyLongerOrShorterThanAnnouncedFails) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  HttpRequest longer(connection, "PUT", "/data", kFlags);
  ASSERT_EQ(longer.beginSend(2), "");
  EXPECT_NE(longer.writeBody("abc"), "");
  HttpRequest shorter(connection, "PUT", "/data", kFlags);
  ASSERT_EQ(shorter.beginSend(5), "");
  ASSERT_EQ(shorter.writeBody("abc"), "");
  EXPECT_NE(shorter.endSend(), "");
  EXPECT_TRUE(server_.seen().empty());
}

TEST_F(HttpClientTest, WithoutExistingConnectEachRequestOpensItsOwnConnection) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  for (int i = 0; i < 2; ++i) {
    HttpRequest request(connection, "GET", "/data", platform::kInternetFlagNoAutoRedirect);
    ASSERT_EQ(request.send(), "");
  }
  auto seen = server_.seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_NE(seen[0].remotePort, seen[1].remotePort);
}

TEST_F(HttpClientTest, RedirectIsNotFollowedWithTheFlag) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  HttpRequest request(connection, "GET", "/redirect", kFlags);
  ASSERT_EQ(request.send(), "");
  EXPECT_EQ(request.statusCode(), 302u);
  EXPECT_EQ(readAll(request), "moved");
  EXPECT_EQ(server_.seen().size(), 1u);

  HttpRequest follows(connection, "GET", "/redirect", platform::kInternetFlagExistingConnect);
  ASSERT_EQ(follows.send(), "");
  EXPECT_EQ(follows.statusCode(), 200u);
  EXPECT_EQ(server_.seen().back().target, "/elsewhere");
}

TEST_F(HttpClientTest, ResponseOverTheLimitFailsAndKeepsNothing) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  HttpRequest request(connection, "GET", "/big", kFlags);
  request.setMaxResponseBytes(5002);
  const std::string error = request.send();
  EXPECT_NE(error, "");
  EXPECT_NE(error.find("5002"), std::string::npos) << error;
  char chunk[16];
  EXPECT_EQ(request.read(chunk, sizeof chunk), 0u);

  HttpRequest fits(connection, "GET", "/big", kFlags);
  fits.setMaxResponseBytes(5003);
  EXPECT_EQ(fits.send(), "");
  EXPECT_EQ(readAll(fits).size(), 5003u);
}

TEST_F(HttpClientTest, RefusedConnectionFailsWithItsOwnText) {
  const uint16_t closed = testsupport::freeLoopbackPort();
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", closed);
  HttpRequest request(connection, "GET", "/data", kFlags);
  const std::string error = request.send();
  EXPECT_NE(error, "");
  EXPECT_LE(error.size(), platform::kInternetErrorTextMax);
  EXPECT_EQ(platform::lastError(), platform::kInternetCannotConnect) << error;
}

TEST_F(HttpClientTest, SilentServerFailsAfterTheLowSpeedWindow) {
  testsupport::SilentServer silent;
  testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "300");
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  HttpConnection connection(session, "127.0.0.1", silent.port());
  for (const char* method : {"GET", "PUT"}) {
    SCOPED_TRACE(method);
    HttpRequest request(connection, method, "/data", kFlags);
    const auto started = std::chrono::steady_clock::now();
    const std::string error = request.send(std::string(method) == "PUT" ? "<a/>" : "");
    EXPECT_EQ(error, "The operation timed out: fewer than 1024 bytes moved in 300 ms.");
    EXPECT_EQ(platform::lastError(), platform::kInternetTimeout) << error;
    EXPECT_EQ(request.limitHit(), platform::HttpLimit::LowSpeed);
    // Generous bound: only "not the 60 seconds default" matters here.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  }
}

TEST_F(HttpClientTest, TrickleAndEndlessAnswersEndAtTheirLimit) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  session.setLimits({2000, 1024, 400, 1500});
  HttpConnection connection(session, "127.0.0.1", server_.port());
  // Answers that hold a request without ever falling silent: a byte every
  // 50 ms, and 16 KB every 5 ms without end.
  using std::chrono::milliseconds;
  struct Row {
    const char* label;
    std::string part;
    milliseconds pause;
    const char* method;
    platform::HttpLimit limit;
    const char* error;
  };
  const Row rows[] = {
      {"trickle", "x", milliseconds(50), "GET", platform::HttpLimit::LowSpeed,
       "The operation timed out: fewer than 1024 bytes moved in 400 ms."},
      {"trickling answer to an upload", "x", milliseconds(50), "PUT", platform::HttpLimit::LowSpeed,
       "The operation timed out: fewer than 1024 bytes moved in 400 ms."},
      {"endless", std::string(16384, 'x'), milliseconds(5), "GET", platform::HttpLimit::Deadline,
       "The operation timed out: the transfer did not end within 1500 ms."},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    server_.setHandler([&row](const testsupport::SeenRequest&) {
      testsupport::TestResponse response;
      response.stream = testsupport::repeatParts(row.part, row.pause);
      return response;
    });
    HttpRequest request(connection, row.method, "/data", kFlags);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(request.send(std::string(row.method) == "PUT" ? "<a/>" : ""), row.error);
    EXPECT_EQ(platform::lastError(), platform::kInternetTimeout);
    EXPECT_EQ(request.limitHit(), row.limit);
    char chunk[16];
    EXPECT_EQ(request.read(chunk, sizeof chunk), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  }
  // The script download of the automatic proxy has the same limits.
  testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "300");
  server_.setHandler([](const testsupport::SeenRequest&) {
    testsupport::TestResponse response;
    response.stream = testsupport::repeatParts("x", milliseconds(50));
    return response;
  });
  testsupport::TempDir dir;
  const std::string url = "http://127.0.0.1:" + std::to_string(server_.port()) + "/proxy.pac";
  EXPECT_EQ(platform::downloadUrlToFile(url, dir.path() / "proxy.pac"),
            "The operation timed out: fewer than 1024 bytes moved in 300 ms.");
}

TEST(HttpLimits, TestTimeoutShortensAllButTheByteCount) {
  HttpSession session("Agent/1.0", InternetAccess::Direct);
  session.setLimits({5000, 2048, 6000, 70000});
  auto limitsOf = [&session] {
    const platform::HttpLimits limits = session.limits();
    return std::vector<unsigned>{limits.connectMs, limits.lowSpeedBytes, limits.lowSpeedWindowMs,
                                 limits.deadlineMs};
  };
  {
    testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", nullptr);
    EXPECT_EQ(limitsOf(), (std::vector<unsigned>{5000, 2048, 6000, 70000}));
  }
  {
    testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "300");
    EXPECT_EQ(limitsOf(), (std::vector<unsigned>{300, 2048, 300, 3000}));
  }
  {
    testsupport::ScopedEnv timeout("QUORVANE_NET_TIMEOUT_MS", "0");
    EXPECT_EQ(limitsOf(), (std::vector<unsigned>{5000, 2048, 6000, 70000}));
  }
}

TEST_F(HttpClientTest, ExplicitProxyAndItsBypassList) {
  testsupport::TempDir dir;
  testsupport::ProxyProcess proxy(dir.path());
  ASSERT_TRUE(proxy.start());
  {
    HttpSession session("Agent/1.0", InternetAccess::Proxy, proxy.hostPort(), "other.example");
    HttpConnection connection(session, "127.0.0.1", server_.port());
    HttpRequest request(connection, "GET", "/data?a=1&b=%22", kFlags);
    ASSERT_EQ(request.send(), "");
    EXPECT_EQ(request.statusCode(), 200u);
  }
  {
    HttpSession session("Agent/1.0", InternetAccess::Proxy, proxy.hostPort(), "<local>;127.0.0.1");
    HttpConnection connection(session, "127.0.0.1", server_.port());
    HttpRequest request(connection, "GET", "/direct", kFlags);
    ASSERT_EQ(request.send(), "");
  }
  const std::vector<std::string> lines = proxy.requestLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "GET http://127.0.0.1:" + std::to_string(server_.port()) + "/data?a=1&b=%22 HTTP/1.1");
  EXPECT_EQ(server_.seen().size(), 2u);
}

TEST_F(HttpClientTest, PreconfiguredAccessUsesTheManualProxy) {
  testsupport::TempDir dir;
  testsupport::ProxyProcess proxy(dir.path());
  ASSERT_TRUE(proxy.start());
  testsupport::ScopedEnv manual("http_proxy", "http://" + proxy.hostPort() + "/");
  HttpSession session("Agent/1.0", InternetAccess::Preconfigured);
  HttpConnection connection(session, "127.0.0.1", server_.port());
  HttpRequest request(connection, "GET", "/data", kFlags);
  ASSERT_EQ(request.send(), "");
  EXPECT_EQ(proxy.requestLines().size(), 1u);

  HttpSession direct("Agent/1.0", InternetAccess::Direct);
  HttpConnection directConnection(direct, "127.0.0.1", server_.port());
  HttpRequest directRequest(directConnection, "GET", "/data", kFlags);
  ASSERT_EQ(directRequest.send(), "");
  EXPECT_EQ(proxy.requestLines().size(), 1u);
}

TEST_F(HttpClientTest, DownloadUrlToFile) {
  testsupport::TempDir dir;
  const auto target = dir.path() / "script.pac";
  const std::string url = "http://127.0.0.1:" + std::to_string(server_.port()) + "/big";
  ASSERT_EQ(platform::downloadUrlToFile(url, target), "");
  std::ifstream in(target);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.size(), 5003u);

  const auto copy = dir.path() / "copy.pac";
  ASSERT_EQ(platform::downloadUrlToFile("file://" + target.string(), copy), "");
  EXPECT_EQ(std::filesystem::file_size(copy), 5003u);

  EXPECT_NE(platform::downloadUrlToFile(
                "http://127.0.0.1:" + std::to_string(server_.port()) + "/missing", copy),
            "");
}

TEST(ParseUrl, Table) {
  struct Row {
    const char* url;
    bool ok;
    const char* scheme;
    bool isHttp;
    const char* host;
    uint16_t port;
    const char* object;
  };
  const Row rows[] = {
      {"http://example.org:8080/data?user=a&pass=b", true, "http", true, "example.org", 8080, "/data?user=a&pass=b"},
      {"http://example.org/data", true, "http", true, "example.org", 80, "/data"},
      {"HTTP://Example.org", true, "http", true, "Example.org", 80, "/"},
      {"http://example.org?x=1", true, "http", true, "example.org", 80, "/?x=1"},
      {"https://example.org/", true, "https", false, "example.org", 443, "/"},
      {"http://u:p@example.org:81/a#frag", true, "http", true, "example.org", 81, "/a"},
      {"http://[::1]:8080/x", true, "http", true, "::1", 8080, "/x"},
      {"http:///data", false, "", false, "", 0, ""},
      {"example.org/data", false, "", false, "", 0, ""},
      {"http://example.org:99999/", false, "", false, "", 0, ""},
      {"http://example.org:8a/", false, "", false, "", 0, ""},
      {"", false, "", false, "", 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.url);
    platform::UrlParts parts;
    ASSERT_EQ(platform::parseUrl(row.url, &parts), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(parts.scheme, row.scheme);
    EXPECT_EQ(parts.isHttp, row.isHttp);
    EXPECT_EQ(parts.host, row.host);
    EXPECT_EQ(parts.port, row.port);
    EXPECT_EQ(parts.object, row.object);
  }
}

}  // namespace
