#include "platform/tick.h"

#include <time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// The virtual clock's tick count, shared by every thread of the process.
// It starts at the number after "virtual:" (0 without one) on first use.
std::atomic<uint32_t> g_virtualTicks{0};
std::atomic<bool> g_virtualStarted{false};

uint32_t virtualStart() {
  const char* clock = std::getenv("QUORVANE_CLOCK");
  if (clock && std::strncmp(clock, "virtual:", 8) == 0) {
    return static_cast<uint32_t>(std::strtoul(clock + 8, nullptr, 0));
  }
  return 0;
}

std::atomic<uint32_t>& virtualTicks() {
  if (!g_virtualStarted.load(std::memory_order_acquire)) {
    bool expected = false;
    if (g_virtualStarted.compare_exchange_strong(expected, true)) g_virtualTicks = virtualStart();
  }
  return g_virtualTicks;
}

}  // namespace

bool virtualClockInUse() {
  const char* clock = std::getenv("QUORVANE_CLOCK");
  return clock && (std::strcmp(clock, "virtual") == 0 || std::strncmp(clock, "virtual:", 8) == 0);
}

uint32_t tickCount() {
  if (virtualClockInUse()) return virtualTicks().load();
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Milliseconds in 64 bits, cut to 32: the count wraps as GetTickCount does.
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void advanceVirtualClock(uint32_t milliseconds) {
  if (!virtualClockInUse()) return;
  virtualTicks().fetch_add(milliseconds);  // unsigned: wraps
}

void setVirtualClock(uint32_t ticks) {
  if (!virtualClockInUse()) return;
  virtualTicks();
  g_virtualTicks = ticks;
}

}  // namespace platform
