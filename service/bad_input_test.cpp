// Hostile and broken requests: each gets a bounded answer (or a closed
// connection) and the service keeps serving.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "service/handler.h"
#include "service/testing/test_service.h"

namespace service {
namespace {

using testing::fetch;
using testing::RunningService;

std::string deepList(int depth) {
  std::string text = "<?xml version=\"1.0\"?><bookmarks>";
  for (int i = 0; i < depth; ++i) text += "<folder><children>";
  for (int i = 0; i < depth; ++i) text += "</children></folder>";
  return text + "</bookmarks>";
}

const char kLaughs[] =
    "<?xml version=\"1.0\"?><!DOCTYPE bookmarks [<!ENTITY a \"aaaaaaaaaa\">"
    "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
    "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\"><!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">"
    "<!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\"><!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">"
    "<!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\"><!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">]>"
    "<bookmarks><bookmark><name>&i;</name></bookmark></bookmarks>";

const char kExternal[] =
    "<?xml version=\"1.0\"?><!DOCTYPE bookmarks [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
    "<bookmarks><bookmark><name>&x;</name></bookmark></bookmarks>";

TEST(BadInput, BodiesThatMustBeRefused) {
  RunningService service;
  service.addAccount("alice", "pw");
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary += static_cast<char>(i * 37);
  struct Row {
    const char* label;
    std::string body;
    bool chunked;
    long status;
  };
  const Row rows[] = {
      {"binary", binary, false, 400},
      {"nested deeper than the parser allows", deepList(5000), false, 400},
      {"entity expansion", kLaughs, false, 400},
      {"external entity", kExternal, false, 400},
      {"zero byte inside", std::string("<bookmarks>\0</bookmarks>", 24), false, 400},
      {"too large", std::string(kDefaultMaxBodyBytes + 1, ' '), false, 413},
      {"too large, chunked", std::string(kDefaultMaxBodyBytes + 1, ' '), true, 413},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    auto start = std::chrono::steady_clock::now();
    auto r = fetch("PUT", service.dataUrl("alice", "pw", "put"), row.body, {}, row.chunked);
    EXPECT_EQ(r.status, row.status) << r.error << r.body;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  // Nothing of it was stored.
  auto r = fetch("GET", service.dataUrl("alice", "pw", "get"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.find("<bookmark>"), std::string::npos) << r.body;
}

TEST(BadInput, MalformedTargetsAndOversizedHeaders) {
  RunningService service;
  service.addAccount("alice", "pw");
  EXPECT_EQ(fetch("GET", service.url("/data?user=alice&pass=%G0%&function=get%")).status, 400);
  EXPECT_EQ(fetch("GET", service.url("/data?%%%&&==&function")).status, 400);
  EXPECT_EQ(fetch("GET", service.url("/data?user=alice&pass=%00pw&function=get")).status, 401);
  EXPECT_EQ(fetch("GET", service.url("/data?" + std::string(20000, 'x'))).status, 414);
  // Many headers, each short, together over the header budget.
  std::vector<std::string> headers;
  for (int i = 0; i < 200; ++i)
    headers.push_back("X-Filler-" + std::to_string(i) + ": " + std::string(500, 'y'));
  auto r = fetch("GET", service.dataUrl("alice", "pw", "get"), {}, headers);
  EXPECT_NE(r.status, 200) << r.body;
  EXPECT_EQ(fetch("GET", service.dataUrl("alice", "pw", "get")).status, 200);
}

int connectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(BadInput, ASlowClientIsCutOffAtTheTimeOut) {
  ServerOptions options;
  options.ioTimeout = std::chrono::seconds(1);
  options.requestTimeout = std::chrono::seconds(2);
  RunningService service(options);
  // Half a request line, then one header byte every half second: each read
  // comes in time, the request as a whole does not.
  int fd = connectTo(service.port());
  ASSERT_GE(fd, 0);
  auto start = std::chrono::steady_clock::now();
  ::send(fd, "GET /data?function=get HTTP/1.1\r\nX: ", 37, MSG_NOSIGNAL);
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
    if (::send(fd, "a", 1, MSG_NOSIGNAL) < 0) closed = true;
    char byte;
    if (::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) closed = true;
    usleep(500000);
  }
  ::close(fd);
  EXPECT_TRUE(closed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(BadInput, RawGarbageOnTheSocket) {
  RunningService service;
  service.addAccount("alice", "pw");
  const std::string inputs[] = {
      std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),  // a TLS hello
      "GET\r\n\r\n",
      "PUT /data?function=put HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
      "PUT /data?function=put HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzzzz\r\n",
      std::string(100000, '\n'),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.substr(0, 40));
    int fd = connectTo(service.port());
    ASSERT_GE(fd, 0);
    ::send(fd, input.data(), input.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, 0) > 0) {
    }
    ::close(fd);
  }
  EXPECT_EQ(fetch("GET", service.dataUrl("alice", "pw", "get")).status, 200);
}

}  // namespace
}  // namespace service
