#include "platform/message_loop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/tick.h"
#include "tests/support/temp_prefix.h"

namespace platform {
namespace {

struct Firing {
  uint32_t id;
  uint32_t tick;
};
std::vector<Firing> firings;

void record(uint32_t id, uint32_t tick) { firings.push_back({id, tick}); }

// Kills itself on its first firing.
uint32_t selfKillingId = 0;
void killSelf(uint32_t id, uint32_t tick) {
  record(id, tick);
  killThreadTimer(id);
}

class VirtualClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QUORVANE_CLOCK", "virtual", 1);
    firings.clear();
  }
  void TearDown() override {
    for (uint32_t id : timers_) killThreadTimer(id);
    unsetenv("QUORVANE_CLOCK");
  }
  uint32_t addTimer(uint32_t elapse, TimerCallback callback = record) {
    uint32_t id = setThreadTimer(elapse, callback);
    EXPECT_NE(id, 0u);
    timers_.push_back(id);
    return id;
  }
  testsupport::TempPrefix prefix_;
  std::vector<uint32_t> timers_;
};

TEST_F(VirtualClockTest, AdvanceFiresEveryPeriodAtItsDueTick) {
  setVirtualClock(1000);
  uint32_t twenty = addTimer(20000);
  uint32_t fifty = addTimer(50000);
  advanceClockAndDispatch(100000);
  std::vector<std::pair<uint32_t, uint32_t>> seen;
  for (auto& f : firings) seen.emplace_back(f.id, f.tick);
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {twenty, 21000}, {twenty, 41000},  {fifty, 51000}, {twenty, 61000},
      {twenty, 81000}, {twenty, 101000}, {fifty, 101000}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(tickCount(), 101000u);
}

TEST_F(VirtualClockTest, TimersFireOnlyWhenTheThreadDispatches) {
  setVirtualClock(0);
  addTimer(1000);
  advanceVirtualClock(5500);  // the clock moves, nothing dispatches
  EXPECT_TRUE(firings.empty());
  // Overdue five times over: fires once, then is due a period after that.
  EXPECT_EQ(dispatchPendingMessages(), 1u);
  ASSERT_EQ(firings.size(), 1u);
  EXPECT_EQ(firings[0].tick, 5500u);
  uint32_t left = 0;
  ASSERT_TRUE(timeUntilNextTimer(&left));
  EXPECT_EQ(left, 1000u);
  EXPECT_EQ(dispatchPendingMessages(), 0u);
}

TEST_F(VirtualClockTest, TickCountWrapsWithoutLosingTimers) {
  setVirtualClock(0xFFFFF000u);  // 4096 ms before the wrap
  addTimer(3000);
  advanceClockAndDispatch(10000);
  ASSERT_EQ(firings.size(), 3u);
  EXPECT_EQ(firings[0].tick, 0xFFFFFBB8u);
  EXPECT_EQ(firings[1].tick, 0x00000770u);  // past the wrap
  EXPECT_EQ(firings[2].tick, 0x00001328u);
  EXPECT_EQ(tickCount(), 0x00001710u);
}

TEST_F(VirtualClockTest, KilledTimersStopAndElapseIsClamped) {
  setVirtualClock(0);
  selfKillingId = addTimer(0, killSelf);  // 0 becomes the 10 ms minimum
  uint32_t other = addTimer(25);
  advanceClockAndDispatch(60);
  ASSERT_EQ(firings.size(), 3u);
  EXPECT_EQ(firings[0].id, selfKillingId);
  EXPECT_EQ(firings[0].tick, 10u);
  EXPECT_EQ(firings[1].id, other);
  EXPECT_EQ(firings[2].tick, 50u);
  EXPECT_FALSE(killThreadTimer(selfKillingId));
  EXPECT_EQ(lastError(), kInvalidParameter);
}

TEST_F(VirtualClockTest, TimersBelongToTheirThread) {
  setVirtualClock(0);
  uint32_t id = addTimer(100);
  uint32_t otherThreadTimers = 99;
  bool killedThere = true;
  std::thread([&] {
    otherThreadTimers = threadTimerCount();
    killedThere = killThreadTimer(id);
    advanceClockAndDispatch(1000);  // dispatching there does not fire ours
  }).join();
  EXPECT_EQ(otherThreadTimers, 0u);
  EXPECT_FALSE(killedThere);
  EXPECT_TRUE(firings.empty());
  EXPECT_EQ(dispatchPendingMessages(), 1u);
}

TEST_F(VirtualClockTest, CreationFailsPastTheQuotaOrWithoutCallback) {
  EXPECT_EQ(setThreadTimer(100, nullptr), 0u);
  EXPECT_EQ(lastError(), kInvalidParameter);
  setenv("QUORVANE_TIMER_LIMIT", "1", 1);
  addTimer(100);
  EXPECT_EQ(setThreadTimer(100, record), 0u);
  EXPECT_EQ(lastError(), kNotEnoughMemory);
  unsetenv("QUORVANE_TIMER_LIMIT");
}

TEST(RealClockTest, PumpFiresTimersAndQuitEndsTheLoop) {
  testsupport::TempPrefix prefix;
  unsetenv("QUORVANE_CLOCK");
  firings.clear();
  uint32_t id = setThreadTimer(10, record);
  pumpMessagesFor(100);
  EXPECT_GE(firings.size(), 2u);
  killThreadTimer(id);
  static int ticksBeforeQuit;
  ticksBeforeQuit = 3;
  id = setThreadTimer(10, [](uint32_t, uint32_t) {
    if (--ticksBeforeQuit == 0) postQuitMessage(7);
  });
  EXPECT_EQ(runMessageLoop(), 7);
  EXPECT_EQ(ticksBeforeQuit, 0);
  killThreadTimer(id);
}

}  // namespace
}  // namespace platform
