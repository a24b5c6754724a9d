#include "engine/settings_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <string>
#include <vector>

namespace corvex {
namespace {

TEST(SettingsTextTest, FindsTheValueOfAKey) {
  struct Case {
    const char* label;
    std::string text;
    std::string key;
    std::optional<std::string> value;
  };
  const std::vector<Case> cases = {
      {"no server line", "enabled=1\r\nserver.port=8080\r\n", "server", std::nullopt},
      {"port line", "enabled=1\r\nserver.port=8080\r\n", "server.port", "8080"},
      {"spaces before =", "sync.period   = 30\r\n", "sync.period", "30"},
      {"tab before = is no match", "sync.period\t=30\r\n", "sync.period", std::nullopt},
      {"proxy.username is not username", "proxy.username=p\r\nusername=u\r\n", "username", "u"},
      {"proxy.password is not password", "proxy.password=p\r\n", "password", std::nullopt},
      {"first line wins", "a=1\r\na=2\r\n", "a", "1"},
      {"key only at a line start", "xa=1\r\n", "a", std::nullopt},
      {"case sensitive", "Server=x\r\n", "server", std::nullopt},
      {"last line without break", "a=1\r\nb=  v w \t", "b", "v w"},
      {"LF only", "a=1\nb=2\n", "b", "2"},
      {"trailing control bytes", "a=v\x01\x02\r\n", "a", "v"},
      {"empty value", "a=\r\nb=1\r\n", "a", ""},
      {"bytes above 127 kept", "a=\xe9\xa0\x85\r\n", "a", "\xe9\xa0\x85"},
      {"empty text", "", "a", std::nullopt},
      {"key without =", "server\r\nserver=x\r\n", "server", "x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(findSettingValue(c.text, c.key), c.value);
  }
}

TEST(SettingsTextTest, ReadsNumbersAsTheRuntimeDoes) {
  struct Case {
    std::string text;
    int32_t value;
  };
  const std::vector<Case> cases = {
      {"30", 30},
      {" \t30", 30},
      {"abc", 0},
      {"", 0},
      {"-1", -1},
      {"+7", 7},
      {"12abc", 12},
      {"- 1", 0},
      {"2147483647", INT32_MAX},
      {"99999999999", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-99999999999999999999", INT32_MIN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    EXPECT_EQ(parseSettingNumber(c.text), c.value);
  }
}

}  // namespace
}  // namespace corvex
