#include "service/list_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "exchange/timestamp.h"

namespace service {
namespace {

// Sets TZ for one test and restores it.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (previous_) {
      setenv("TZ", previous_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> previous_;
};

TEST(ListTime, EveryVersionGetsATimeOfItsOwn) {
  ZoneGuard zone("UTC0");
  struct Row {
    std::int64_t previous, now, expected;
  };
  const Row rows[] = {
      {1000, 2000, 2000},  // a later clock wins
      {1000, 1000, 1001},  // two uploads in one second
      {1000, 500, 1001},   // the clock was set back
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.previous) + " " + std::to_string(row.now));
    EXPECT_EQ(nextListTime(row.previous, row.now), row.expected);
  }
}

TEST(ListTime, TheRepeatedHourAfterDaylightSavingTimeGetsANewText) {
  // Central Europe: on 2026-10-25 the clock goes from 03:00 back to 02:00.
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  std::time_t firstPass = exchange::parseTimestamp("2026-10-25-02-30-00");
  ASSERT_NE(firstPass, 0);
  // Resolve to the summer-time 02:30 whichever pass mktime picked.
  if (exchange::formatTimestamp(firstPass - 3600) == "2026-10-25-02-30-00") firstPass -= 3600;
  std::int64_t next = nextListTime(firstPass, firstPass + 3600);  // 02:30 again, winter time
  EXPECT_GT(exchange::formatTimestamp(next), "2026-10-25-02-30-00");
  EXPECT_GE(next, firstPass + 3600);
}

}  // namespace
}  // namespace service
