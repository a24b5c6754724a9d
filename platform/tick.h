// The tick count: milliseconds since an arbitrary start, in 32 bits, so that
// it wraps after about 49.7 days as GetTickCount does. With
// QUORVANE_CLOCK=virtual it advances only through advanceVirtualClock.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace platform {

PLATFORM_API uint32_t tickCount();

// Virtual clock only: moves the tick count forward (wrapping) and lets the
// caller's thread timers fall due. Ignored with the real clock.
PLATFORM_API void advanceVirtualClock(uint32_t milliseconds);
// Virtual clock only: sets the tick count (tests of the wrap-around).
PLATFORM_API void setVirtualClock(uint32_t ticks);
PLATFORM_API bool virtualClockInUse();

}  // namespace platform
