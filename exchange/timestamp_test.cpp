#include "exchange/timestamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace exchange {
namespace {

// Central European time as a POSIX rule, so that no zone database is needed.
constexpr char kBerlin[] = "CET-1CEST,M3.5.0,M10.5.0/3";

// Sets the local time zone for one test and restores the previous one.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old, hadPrevious_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (hadPrevious_) {
      setenv("TZ", previous_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

TEST(Timestamp, FormatsLocalTimeZeroPadded) {
  ZoneScope zone("UTC0");
  EXPECT_EQ(formatTimestamp(1110186300), "2005-03-07-09-05-00");
  EXPECT_EQ(formatTimestamp(0), "1970-01-01-00-00-00");
  ZoneScope berlin(kBerlin);
  EXPECT_EQ(formatTimestamp(1110186300), "2005-03-07-10-05-00");
}

TEST(Timestamp, ParsesPiecesAndRejectsShortTexts) {
  ZoneScope zone("UTC0");
  const std::time_t march7 = 1110186300;
  struct Case {
    const char* text;
    std::time_t expected;
  } cases[] = {
      {"2005-03-07-09-05-00", march7},
      {"2005-3-7-9-5-0", march7},
      {"2005--03-07-09-05-00", march7},
      {"-2005-03-07-09-05-00-", march7},
      {"2005-03-07-09-05-00-17-extra", march7},
      {" 2005- 03-07-09-05-00", march7},
      {"2005-03-07-09-05-00abc", march7},
      {"2005-03-07-09-05-x", march7},             // "x" reads as second 0
      {"2005-03-07-09-65-00", march7 + 60 * 60},  // mktime normalises
      {"2005-03-07", 0},
      {"2005-03-07-09-05", 0},
      {"2005--03--07--09--05", 0},
      {"", 0},
      {"-----", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseTimestamp(c.text), c.expected);
  }
}

TEST(Timestamp, ParsingInvertsFormattingAcrossDaylightSaving) {
  ZoneScope zone(kBerlin);
  // Just before and after the spring change of 2026, after the autumn change,
  // in summer and in winter.
  const std::time_t exact[] = {1774745999, 1774746000, 1792893600, 1784030400, 1796904000};
  for (std::time_t t : exact) {
    SCOPED_TRACE(t);
    EXPECT_EQ(parseTimestamp(formatTimestamp(t)), t);
  }
  // 02:30 local happens twice on 25 October; either instant names that time.
  for (std::time_t t : {1792888200, 1792891800}) {
    SCOPED_TRACE(t);
    std::string text = formatTimestamp(t);
    EXPECT_EQ(text, "2026-10-25-02-30-00");
    std::time_t back = parseTimestamp(text);
    EXPECT_TRUE(back == 1792888200 || back == 1792891800) << back;
  }
}

}  // namespace
}  // namespace exchange
