#include "platform/message_loop.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/last_error.h"
#include "platform/tick.h"

namespace platform {
namespace {

struct Timer {
  uint32_t id;
  uint32_t elapse;
  uint32_t due;  // tick count at which it falls due
  TimerCallback callback;
};

struct ThreadQueue {
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
};

// Timers of all threads, so that the loader can drop the ones whose code goes
// away and the quota is counted per process. Callbacks run without the lock.
struct TimerTable {
  std::mutex mutex;
  std::map<std::thread::id, ThreadQueue> queues;
  uint32_t nextId = 1;
  size_t count = 0;
};

TimerTable& table() {
  static auto* t = new TimerTable();  // outlives every thread's exit handler
  return *t;
}

std::atomic<detail::ActionHook> actionHook{nullptr};

// Removes the thread's queue (and its timers) when the thread ends, as the
// system destroys a thread's timers with it.
struct QueueReaper {
  ~QueueReaper() {
    TimerTable& t = table();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it = t.queues.find(std::this_thread::get_id());
    if (it == t.queues.end()) return;
    t.count -= it->second.timers.size();
    t.queues.erase(it);
  }
};

// The calling thread's queue; the caller holds the table lock.
ThreadQueue& ownQueue(TimerTable& t) {
  thread_local QueueReaper reaper;
  (void)&reaper;
  return t.queues[std::this_thread::get_id()];
}

bool isDue(uint32_t due, uint32_t now) { return static_cast<int32_t>(now - due) >= 0; }

size_t timerLimit() {
  if (const char* text = std::getenv("QUORVANE_TIMER_LIMIT"); text && *text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (end && *end == '\0') return value;
  }
  return 10000;
}

unsigned fireDueTimers() {
  TimerTable& t = table();
  const uint32_t now = tickCount();
  std::vector<std::pair<int32_t, uint32_t>> due;  // (how overdue, id)
  {
    std::lock_guard<std::mutex> guard(t.mutex);
    for (const Timer& timer : ownQueue(t).timers) {
      if (isDue(timer.due, now)) due.emplace_back(static_cast<int32_t>(now - timer.due), timer.id);
    }
  }
  // The longest overdue first; equal ones in creation order.
  std::stable_sort(due.begin(), due.end(), [](auto& a, auto& b) { return a.first > b.first; });
  unsigned fired = 0;
  for (const auto& entry : due) {
    const auto id = entry.second;  // a plain copy: lambdas cannot capture bindings before C++20
    TimerCallback callback = nullptr;
    {
      std::lock_guard<std::mutex> guard(t.mutex);
      auto& timers = ownQueue(t).timers;
      auto it = std::find_if(timers.begin(), timers.end(), [&](auto& x) { return x.id == id; });
      // An earlier callback may have killed or re-armed it.
      if (it == timers.end() || !isDue(it->due, now)) continue;
      it->due = now + it->elapse;  // re-armed before the call: a nested loop sees it idle
      callback = it->callback;
    }
    callback(id, now);
    ++fired;
  }
  return fired;
}

bool quitRequested(int* code) {
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  ThreadQueue& q = ownQueue(t);
  if (!q.quit) return false;
  q.quit = false;
  *code = q.quitCode;
  return true;
}

// Sleeps until the next timer of the thread is due, at most `limit` ms. The
// wait is cut into short slices so that a virtual clock moved by another
// thread, or a quit request, is noticed.
void waitForWork(uint32_t limit) {
  uint32_t wait = limit;
  uint32_t untilTimer = 0;
  if (timeUntilNextTimer(&untilTimer)) wait = std::min(wait, untilTimer);
  wait = std::min<uint32_t>(wait, 20);
  if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
}

}  // namespace

uint32_t setThreadTimer(uint32_t elapse, TimerCallback callback) {
  if (!callback) {
    setLastError(kInvalidParameter);
    return 0;
  }
  elapse = std::clamp(elapse, kTimerMinimum, kTimerMaximum);
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  if (t.count >= timerLimit()) {
    setLastError(kNotEnoughMemory);
    return 0;
  }
  uint32_t id = t.nextId++;
  if (id == 0) id = t.nextId++;
  ownQueue(t).timers.push_back({id, elapse, tickCount() + elapse, callback});
  ++t.count;
  return id;
}

bool killThreadTimer(uint32_t timerId) {
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  auto& timers = ownQueue(t).timers;
  auto it = std::find_if(timers.begin(), timers.end(), [&](auto& x) { return x.id == timerId; });
  if (it == timers.end()) {
    setLastError(kInvalidParameter);
    return false;
  }
  timers.erase(it);
  --t.count;
  return true;
}

unsigned threadTimerCount() {
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  return static_cast<unsigned>(ownQueue(t).timers.size());
}

unsigned dispatchPendingMessages() {
  unsigned count = 0;
  if (detail::ActionHook hook = actionHook.load()) {
    while (hook()) ++count;
  }
  return count + fireDueTimers();
}

bool timeUntilNextTimer(uint32_t* milliseconds) {
  TimerTable& t = table();
  const uint32_t now = tickCount();
  std::lock_guard<std::mutex> guard(t.mutex);
  bool any = false;
  uint32_t best = 0;
  for (const Timer& timer : ownQueue(t).timers) {
    uint32_t left = isDue(timer.due, now) ? 0 : timer.due - now;
    if (!any || left < best) best = left;
    any = true;
  }
  if (any) *milliseconds = best;
  return any;
}

void pumpMessagesFor(uint32_t milliseconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    dispatchPendingMessages();
    auto now = Clock::now();
    if (now >= deadline) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    waitForWork(static_cast<uint32_t>(std::max<int64_t>(left, 1)));
  }
}

void advanceClockAndDispatch(uint64_t milliseconds) {
  if (!virtualClockInUse()) {
    while (milliseconds > kTimerMaximum) {
      pumpMessagesFor(kTimerMaximum);
      milliseconds -= kTimerMaximum;
    }
    pumpMessagesFor(static_cast<uint32_t>(milliseconds));
    return;
  }
  uint64_t remaining = milliseconds;
  dispatchPendingMessages();
  for (;;) {
    uint32_t untilTimer = 0;
    const bool any = timeUntilNextTimer(&untilTimer);
    uint64_t step = (any && untilTimer <= remaining) ? untilTimer : remaining;
    // The tick count is 32 bits; a longer step is taken in pieces.
    while (step > 0) {
      uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(step, kTimerMaximum));
      advanceVirtualClock(piece);
      step -= piece;
      remaining -= piece;
    }
    dispatchPendingMessages();
    // Timers that fall due exactly at the end fire in the last dispatch.
    if (remaining == 0) break;
  }
}

int runMessageLoop() {
  int code = 0;
  for (;;) {
    dispatchPendingMessages();
    if (quitRequested(&code)) return code;
    waitForWork(20);
  }
}

void postQuitMessage(int code) {
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  ThreadQueue& q = ownQueue(t);
  q.quit = true;
  q.quitCode = code;
}

namespace detail {

void setActionHook(ActionHook hook) { actionHook.store(hook); }

void killTimersOfUnmappedCallbacks() {
  TimerTable& t = table();
  std::lock_guard<std::mutex> guard(t.mutex);
  for (auto& [thread, queue] : t.queues) {
    auto& timers = queue.timers;
    auto gone = std::remove_if(timers.begin(), timers.end(), [](const Timer& timer) {
      Dl_info info;
      return dladdr(reinterpret_cast<void*>(timer.callback), &info) == 0;
    });
    t.count -= static_cast<size_t>(timers.end() - gone);
    timers.erase(gone, timers.end());
  }
}

}  // namespace detail

}  // namespace platform
