#include "platform/proxy.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_prefix.h"

namespace {

using testsupport::ScopedEnv;

TEST(ProxyOptions, ComeFromTheEnvironment) {
  testsupport::NoProxyEnvironment clean;
  platform::ProxyOptions options;
  ASSERT_TRUE(platform::queryProxyOptions("", &options));
  EXPECT_EQ(options.flags, platform::kProxyTypeDirect);
  EXPECT_EQ(options.proxyServer, "");

  ScopedEnv proxy("http_proxy", "http://user:pw@proxy.example:3128/");
  ScopedEnv bypass("no_proxy", "localhost, .corp.example,10.0.0.1");
  ScopedEnv pac("QUORVANE_PROXY_PAC_URL", "http://config.example/proxy.pac");
  ScopedEnv detect("QUORVANE_PROXY_AUTODETECT", "1");
  ASSERT_TRUE(platform::queryProxyOptions("LAN Connection", &options));
  EXPECT_EQ(options.flags, platform::kProxyTypeDirect | platform::kProxyTypeProxy |
                               platform::kProxyTypeAutoProxyUrl | platform::kProxyTypeAutoDetect);
  EXPECT_EQ(options.proxyServer, "proxy.example:3128");
  EXPECT_EQ(options.bypassList, "localhost;.corp.example;10.0.0.1");
  EXPECT_EQ(options.autoConfigUrl, "http://config.example/proxy.pac");
}

TEST(ProxyOptions, ProxyServerText) {
  struct Row {
    const char* text;
    const char* expected;
  };
  const Row rows[] = {
      {"proxy.example:3128", "proxy.example:3128"},
      {"proxy.example", "proxy.example:80"},  // not libcurl's 1080
      {"proxy.example:", "proxy.example:80"},
      {"http://proxy.example/", "proxy.example:80"},
      {"ftp=f.example:21 http=h.example:8080", "h.example:8080"},
      {"https=s.example:443;http=h.example", "h.example:80"},
      {"[::1]:8888", "[::1]:8888"},
      {"[::1]", "[::1]:80"},
      {"", ""},
      {"ftp=f.example:21", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(platform::proxyServerHostPort(row.text), row.expected);
  }
}

TEST(ProxyOptions, BypassList) {
  struct Row {
    const char* list;
    const char* host;
    bool bypassed;
  };
  const Row rows[] = {
      {"127.0.0.1", "127.0.0.1", true},
      {"127.0.0.1", "127.0.0.2", false},
      {"<local>", "intranet", true},
      {"<local>", "www.example.org", false},
      {"*.example.org", "www.example.org", true},
      {"*.example.org", "example.org", false},
      {"10.0.*", "10.0.3.4", true},
      {"example.org", "WWW.Example.ORG", true},
      {".example.org", "example.org", true},
      {"example.org", "badexample.org", false},
      {"a.example; b.example, c.example", "c.example", true},
      {"*", "anything", true},
      {"", "anything", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.list) + " / " + row.host);
    EXPECT_EQ(platform::proxyBypassed(row.list, row.host), row.bypassed);
  }
}

TEST(AutoProxy, DetectionFailsWhenWpadDoesNotResolve) {
  std::string url = "unchanged";
  if (platform::detectAutoProxyUrl(&url)) {
    EXPECT_EQ(url, "http://wpad/wpad.dat");
  } else {
    EXPECT_EQ(url, "unchanged");
  }
}

TEST(AutoProxy, ScriptAnswersForUrlAndHost) {
  testsupport::TempDir dir;
  const auto script = dir.path() / "proxy.pac";
  std::ofstream(script) << "function FindProxyForURL(url, host) {\n"
                           "  if (host == \"direct.example\") return \"DIRECT\";\n"
                           "  if (shExpMatch(url, \"*function=put*\")) return \"PROXY put.example:81\";\n"
                           "  return \"PROXY proxy.example:3128; DIRECT\";\n"
                           "}\n";
  platform::AutoProxyScript pac;
  EXPECT_FALSE(pac.deinitialize());
  ASSERT_TRUE(pac.initialize(script));
  std::string answer;
  ASSERT_TRUE(pac.findProxy("http://direct.example/data", "direct.example", &answer));
  EXPECT_EQ(answer, "DIRECT");
  ASSERT_TRUE(pac.findProxy("http://s.example/data?function=put", "s.example", &answer));
  EXPECT_EQ(answer, "PROXY put.example:81");
  ASSERT_TRUE(pac.findProxy("http://s.example/data", "s.example", &answer, 12));
  EXPECT_EQ(answer, "PROXY proxy");
  EXPECT_TRUE(pac.deinitialize());
  EXPECT_FALSE(pac.findProxy("http://s.example/", "s.example", &answer));
}

TEST(AutoProxy, BrokenOrMissingScriptFails) {
  testsupport::TempDir dir;
  const auto script = dir.path() / "broken.pac";
  std::ofstream(script) << "function FindProxyForURL(url, host) { return ; ";
  platform::AutoProxyScript pac;
  EXPECT_FALSE(pac.initialize(script));
  EXPECT_FALSE(pac.initialize(dir.path() / "missing.pac"));
  std::string answer;
  EXPECT_FALSE(pac.findProxy("http://s.example/", "s.example", &answer));
}

}  // namespace
