// The timer's minute arithmetic: unsigned 32 bits, wrapping with the tick
// count, truncating, and the interval compared unsigned.
#include "plugin/lifecycle.h"

#include <gtest/gtest.h>

namespace bookmark {
namespace {

TEST(TimerArithmeticTest, RunDueOnUnsignedWrappingMinutes) {
  const struct {
    uint32_t now;
    uint32_t lastRun;
    int interval;
    bool due;
  } rows[] = {
      {900000, 0, 15, true},                // exactly 15 minutes
      {880000, 0, 15, false},               // 14 min 40 s truncates to 14
      {959999, 0, 16, false},               // 15.99 minutes
      {0, 0, 0, true},                      // a period of 0 runs on every tick
      {4294967295u, 0, -1, false},          // a negative period never runs
      {600000, 4294667296u, 15, true},      // 900000 ms across the wrap
      {580000, 4294667296u, 15, false},     // 880000 ms across the wrap
      {100, 200, 15, true},                 // a tick count behind the last run: 71582 minutes
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.now << " - " << row.lastRun << " vs " << row.interval);
    EXPECT_EQ(timerRunDue(row.now, row.lastRun, row.interval), row.due);
  }
  EXPECT_EQ(elapsedMinutes(100, 200), 71582u);
}

}  // namespace
}  // namespace bookmark
