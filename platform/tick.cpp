#include "platform/tick.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

std::atomic<uint32_t> virtualTicks{0};

}  // namespace

bool virtualClockInUse() {
  const char* clock = std::getenv("QUORVANE_CLOCK");
  return clock && std::strcmp(clock, "virtual") == 0;
}

uint32_t tickCount() {
  if (virtualClockInUse()) return virtualTicks.load();
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void advanceVirtualClock(uint32_t milliseconds) {
  if (virtualClockInUse()) virtualTicks.fetch_add(milliseconds);
}

void setVirtualClock(uint32_t ticks) {
  if (virtualClockInUse()) virtualTicks.store(ticks);
}

}  // namespace platform
