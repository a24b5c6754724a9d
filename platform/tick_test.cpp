#include "platform/tick.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {
namespace {

class ClockEnvironment {
 public:
  explicit ClockEnvironment(const char* value) {
    if (const char* old = std::getenv("QUORVANE_CLOCK")) {
      previous_ = old;
      had_ = true;
    }
    if (value) {
      setenv("QUORVANE_CLOCK", value, 1);
    } else {
      unsetenv("QUORVANE_CLOCK");
    }
  }
  ~ClockEnvironment() {
    if (had_) {
      setenv("QUORVANE_CLOCK", previous_.c_str(), 1);
    } else {
      unsetenv("QUORVANE_CLOCK");
    }
  }

 private:
  std::string previous_;
  bool had_ = false;
};

TEST(Tick, RealClockCountsMilliseconds) {
  ClockEnvironment real(nullptr);
  EXPECT_FALSE(virtualClockInUse());
  uint32_t before = tickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  uint32_t elapsed = tickCount() - before;  // wrap-safe difference
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 60000u);
  advanceVirtualClock(100000);  // ignored
  EXPECT_LT(tickCount() - before, 60000u);
}

TEST(Tick, VirtualClockMovesOnlyWhenToldAndWraps) {
  ClockEnvironment clock("virtual");
  ASSERT_TRUE(virtualClockInUse());
  setVirtualClock(1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(tickCount(), 1000u);
  advanceVirtualClock(20000);
  EXPECT_EQ(tickCount(), 21000u);
  setVirtualClock(0xFFFFFF00u);
  advanceVirtualClock(0x200);
  EXPECT_EQ(tickCount(), 0x100u);
  EXPECT_EQ(tickCount() - 0xFFFFFF00u, 0x200u);  // differences survive the wrap
}

}  // namespace
}  // namespace platform
