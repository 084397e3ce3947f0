#include "fbhost/clock.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <utility>

namespace fbhost {
namespace {

// The host's start: the load of libfbsdk.
const std::chrono::steady_clock::time_point gStart = std::chrono::steady_clock::now();

struct ClockState {
  std::mutex lock;
  std::shared_ptr<const ClockFunction> clock;  // null: the default clock
};

ClockState& State() {
  // Never destroyed: plug-ins and host threads may read the clock during exit.
  static ClockState* state = new ClockState;
  return *state;
}

}  // namespace

FBTime DefaultClockNow() {
  const auto elapsed = std::chrono::steady_clock::now() - gStart;
  // 705 600 000 ticks per second = 705.6 ticks per nanosecond; in integers:
  // ns * 7056 / 10000, split to stay far from overflow.
  const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
  const long long seconds = ns / 1000000000LL;
  const long long rest = ns % 1000000000LL;
  return FBTime(seconds * FBTime::kTicksPerSecond + rest * 7056 / 10000);
}

FBTime Now() {
  std::shared_ptr<const ClockFunction> clock;
  {
    std::lock_guard<std::mutex> lock(State().lock);
    clock = State().clock;
  }
  return clock ? (*clock)() : DefaultClockNow();
}

void SetClock(ClockFunction clock) {
  auto installed = clock ? std::make_shared<const ClockFunction>(std::move(clock)) : nullptr;
  std::lock_guard<std::mutex> lock(State().lock);
  State().clock = std::move(installed);
}

}  // namespace fbhost
