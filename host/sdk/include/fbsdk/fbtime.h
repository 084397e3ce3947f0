// fbtime.h: FBTime (a point or a duration on the host's time line) and
// FBTimeSpan (an interval of it).
//
// Side of the boundary: SDK. Header-only value types; every operation is
// constexpr where the language allows, noexcept, and safe to use from any
// thread on separate objects (a shared FBTime needs FBPropertyTime, see
// fbproperty.h).
//
// Resolution: integer ticks, kTicksPerSecond = 705 600 000 per second. That
// count divides evenly by 24, 25, 30, 60, 90, 120, 240 and 1000, and by the
// NTSC frame length 1001/30000 s: one NTSC frame is exactly 23 543 520 ticks.
// Every frame boundary of every rate the host knows is therefore an exact
// tick, and whole milliseconds are exact (705 600 ticks).
#pragma once

#include <cmath>
#include <cstdint>

#include "fbsdk/fbsdk_api.h"

// Wholly inline, so not exported: a Windows DLL cannot import a class
// whose static constants are defined in its header.
class FBTime {
 public:
  static constexpr kLongLong kTicksPerSecond = 705600000LL;
  static constexpr kLongLong kTicksPerMillisecond = kTicksPerSecond / 1000;  // 705 600
  // One NTSC frame (1001/30000 s) in ticks.
  static constexpr kLongLong kTicksPerNtscFrame = kTicksPerSecond * 1001 / 30000;  // 23 543 520

  // The largest and smallest representable times; used as "open ended".
  static const FBTime Zero;
  static const FBTime Infinity;
  static const FBTime MinusInfinity;

  constexpr FBTime() noexcept = default;
  constexpr explicit FBTime(kLongLong ticks) noexcept : mTicks(ticks) {}

  // Converters in pairs; the unit is in the name.
  static constexpr FBTime FromTicks(kLongLong ticks) noexcept { return FBTime(ticks); }
  static constexpr FBTime FromMilliSeconds(kLongLong ms) noexcept {
    return FBTime(ms * kTicksPerMillisecond);
  }
  static FBTime FromSecondDouble(double seconds) noexcept {
    FBTime t;
    t.SetSecondDouble(seconds);
    return t;
  }

  // Ticks.
  constexpr kLongLong Get() const noexcept { return mTicks; }
  constexpr void Set(kLongLong ticks) noexcept { mTicks = ticks; }

  // Whole milliseconds. Get truncates toward zero (1.9 ms reads 1, -1.9 ms
  // reads -1); Set is exact.
  constexpr kLongLong GetMilliSeconds() const noexcept { return mTicks / kTicksPerMillisecond; }
  constexpr void SetMilliSeconds(kLongLong ms) noexcept { mTicks = ms * kTicksPerMillisecond; }

  // Seconds as a double. Set rounds to the nearest tick; NaN sets zero, and a
  // value beyond the representable range saturates at Infinity/MinusInfinity.
  constexpr double GetSecondDouble() const noexcept {
    return static_cast<double>(mTicks) / static_cast<double>(kTicksPerSecond);
  }
  void SetSecondDouble(double seconds) noexcept {
    if (std::isnan(seconds)) {
      mTicks = 0;
      return;
    }
    const double ticks = seconds * static_cast<double>(kTicksPerSecond);
    // 9.2e18: the doubles at or beyond 2^63 do not fit.
    if (ticks >= 9223372036854775807.0) {
      mTicks = INT64_MAX;
    } else if (ticks <= -9223372036854775807.0) {
      mTicks = INT64_MIN;
    } else {
      mTicks = std::llround(ticks);
    }
  }

  constexpr FBTime operator+(FBTime other) const noexcept { return FBTime(mTicks + other.mTicks); }
  constexpr FBTime operator-(FBTime other) const noexcept { return FBTime(mTicks - other.mTicks); }
  constexpr FBTime operator-() const noexcept { return FBTime(-mTicks); }
  constexpr FBTime& operator+=(FBTime other) noexcept {
    mTicks += other.mTicks;
    return *this;
  }
  constexpr FBTime& operator-=(FBTime other) noexcept {
    mTicks -= other.mTicks;
    return *this;
  }

  // Exact comparisons (tick for tick).
  constexpr bool operator==(FBTime other) const noexcept { return mTicks == other.mTicks; }
  constexpr bool operator!=(FBTime other) const noexcept { return mTicks != other.mTicks; }
  constexpr bool operator<(FBTime other) const noexcept { return mTicks < other.mTicks; }
  constexpr bool operator<=(FBTime other) const noexcept { return mTicks <= other.mTicks; }
  constexpr bool operator>(FBTime other) const noexcept { return mTicks > other.mTicks; }
  constexpr bool operator>=(FBTime other) const noexcept { return mTicks >= other.mTicks; }
  // Tolerant comparison: |this - other| <= tolerance.
  constexpr bool IsNear(FBTime other, FBTime tolerance) const noexcept {
    const kLongLong d = mTicks > other.mTicks ? mTicks - other.mTicks : other.mTicks - mTicks;
    return d <= tolerance.mTicks;
  }

 private:
  kLongLong mTicks = 0;
};

inline constexpr FBTime FBTime::Zero{0};
inline constexpr FBTime FBTime::Infinity{INT64_MAX};
inline constexpr FBTime FBTime::MinusInfinity{INT64_MIN};

// An interval of the time line, half-open: [start, stop). A span whose stop
// lies before its start is a reversed span; GetDuration is then negative.
class FBTimeSpan {
 public:
  constexpr FBTimeSpan() noexcept = default;
  constexpr FBTimeSpan(FBTime start, FBTime stop) noexcept : mStart(start), mStop(stop) {}

  constexpr void Set(FBTime start, FBTime stop) noexcept {
    mStart = start;
    mStop = stop;
  }
  constexpr FBTime GetStart() const noexcept { return mStart; }
  constexpr FBTime GetStop() const noexcept { return mStop; }
  constexpr void SetStart(FBTime start) noexcept { mStart = start; }
  constexpr void SetStop(FBTime stop) noexcept { mStop = stop; }
  // stop - start (negative for a reversed span).
  constexpr FBTime GetDuration() const noexcept { return mStop - mStart; }
  // start <= t < stop.
  constexpr bool ContainsExclusiveStop(FBTime t) const noexcept { return mStart <= t && t < mStop; }

  constexpr bool operator==(const FBTimeSpan& o) const noexcept {
    return mStart == o.mStart && mStop == o.mStop;
  }
  constexpr bool operator!=(const FBTimeSpan& o) const noexcept { return !(*this == o); }

 private:
  FBTime mStart;
  FBTime mStop;
};
