// fbhost/clock.h: the host's clock, behind FBSystem::SystemTime.
//
// Side of the boundary: host runtime (host programs and tests; not plug-ins).
// Link fbsdk::runtime.
//
// The default clock is monotonic (std::chrono::steady_clock) and reads zero
// at the host's start (the load of libfbsdk). A host program or a test may
// install its own clock; every FBSystem then reads it. All functions are
// thread-safe; a clock function runs on the reading thread, without any host
// lock held, and must be thread-safe itself.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbtime.h"

namespace fbhost {

using ClockFunction = std::function<FBTime()>;

// The host's current time, as FBSystem::SystemTime answers it.
FBSDK_API FBTime Now();

// Installs a clock; an empty function restores the default clock.
FBSDK_API void SetClock(ClockFunction clock);

// The default clock's reading, whatever clock is installed.
FBSDK_API FBTime DefaultClockNow();

// A clock that moves only when told. Thread-safe.
class ManualClock {
 public:
  explicit ManualClock(FBTime start = FBTime::Zero) noexcept : mTicks(start.Get()) {}
  FBTime Now() const noexcept { return FBTime(mTicks.load()); }
  void Set(FBTime time) noexcept { mTicks.store(time.Get()); }
  void Advance(FBTime by) noexcept { mTicks.fetch_add(by.Get()); }
  void AdvanceMilliSeconds(long long ms) noexcept { Advance(FBTime::FromMilliSeconds(ms)); }

 private:
  std::atomic<long long> mTicks;
};

// Installs a clock for its lifetime and restores the default clock after.
// The clock object must outlive the guard.
class ScopedClock {
 public:
  explicit ScopedClock(ClockFunction clock) { SetClock(std::move(clock)); }
  explicit ScopedClock(const ManualClock& clock) {
    SetClock([&clock] { return clock.Now(); });
  }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
  ~ScopedClock() { SetClock(nullptr); }
};

}  // namespace fbhost
