// The per-thread message loop and thread timers (SetTimer without a window).
//
// Every thread has its own queue: its timers, its quit request and the user
// actions that the UI backend delivers on it (platform/ui.h). Nothing runs by
// itself: a timer fires only while its thread dispatches messages, that is
// inside runMessageLoop, dispatchPendingMessages, pumpMessagesFor,
// advanceClockAndDispatch or a modal dialog's loop. Callbacks therefore never
// run in parallel with the thread's other work.
//
// Timers follow the tick count (platform/tick.h). A timer falls due when the
// tick count has moved `elapse` milliseconds past the moment it was set or
// last fired; due-ness is judged on the 32-bit difference, so it survives the
// tick count's wrap-around. A timer that fell due several times over before its
// thread dispatched fires once (as WM_TIMER does) and is then due `elapse`
// after that dispatch. Its callback receives the tick count of the dispatch.
//
// With QUORVANE_CLOCK=virtual the tick count moves only when told to:
// advanceClockAndDispatch steps the clock from one due time to the next and
// fires each timer exactly when it falls due, as a thread with a prompt
// message loop would see it.
#pragma once

#include <cstdint>

#include "platform/export.h"

namespace platform {

// TIMERPROC: the timer's identifier and the tick count at dispatch.
using TimerCallback = void (*)(uint32_t timerId, uint32_t tickCount);

// Elapse values are clamped to [10, 0x7FFFFFFF] milliseconds, as
// USER_TIMER_MINIMUM and USER_TIMER_MAXIMUM clamp them.
inline constexpr uint32_t kTimerMinimum = 10;
inline constexpr uint32_t kTimerMaximum = 0x7FFFFFFF;

// Creates a timer of the calling thread. Returns its identifier (never 0), or
// 0 with the last error set: kInvalidParameter for a null callback,
// kNotEnoughMemory when the process has as many timers as
// QUORVANE_TIMER_LIMIT allows (default 10000, the system's quota).
PLATFORM_API uint32_t setThreadTimer(uint32_t elapse, TimerCallback callback);
// Kills a timer of the calling thread. False (last error kInvalidParameter)
// when the thread has no timer of that identifier.
PLATFORM_API bool killThreadTimer(uint32_t timerId);
// The number of timers the calling thread has.
PLATFORM_API unsigned threadTimerCount();

// Dispatches what is pending now: user actions the UI backend can deliver,
// then every due timer of the thread, earliest due first. Returns how many
// callbacks and actions ran.
PLATFORM_API unsigned dispatchPendingMessages();

// Milliseconds from now until the thread's earliest timer falls due (0 when
// one is overdue); false when the thread has no timer.
PLATFORM_API bool timeUntilNextTimer(uint32_t* milliseconds);

// Real clock: dispatches for `milliseconds` of real time, sleeping between
// due times. With the virtual clock it also waits in real time; virtual
// timers then fire only if something else advances the clock.
PLATFORM_API void pumpMessagesFor(uint32_t milliseconds);

// Virtual clock: moves the tick count forward by `milliseconds`, stopping at
// every due time of the thread's timers to fire them. With the real clock it
// behaves as pumpMessagesFor.
PLATFORM_API void advanceClockAndDispatch(uint64_t milliseconds);

// GetMessage/DispatchMessage until postQuitMessage is called on this thread;
// returns the code given to it.
PLATFORM_API int runMessageLoop();
// Makes the calling thread's runMessageLoop return `code` after the current
// dispatch.
PLATFORM_API void postQuitMessage(int code);

namespace detail {
// The UI layer's hook: delivers one pending user action that can be delivered
// now on the calling thread and returns true, or returns false.
using ActionHook = bool (*)();
void setActionHook(ActionHook hook);
// Called by the loader after a library is unmapped.
void killTimersOfUnmappedCallbacks();
}  // namespace detail

}  // namespace platform
