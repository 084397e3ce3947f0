#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include <fbhost/clock.h>
#include <fbsdk/fbsystem.h>

namespace {

TEST(FBSystemTest, SystemTimeFollowsTheInstalledClock) {
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock installed(clock);
  FBSystem system;
  EXPECT_EQ(FBTime(system.SystemTime).GetMilliSeconds(), 1000);
  clock.AdvanceMilliSeconds(12);
  EXPECT_EQ(FBTime(system.SystemTime).GetMilliSeconds(), 1012);
  FBSystem another;  // every view shows the same host
  EXPECT_EQ(FBTime(another.SystemTime).GetMilliSeconds(), 1012);
}

TEST(FBSystemTest, SystemTimeIsReadOnly) {
  FBSystem system;
  EXPECT_TRUE(system.SystemTime.IsReadOnly());
  EXPECT_FALSE(system.SystemTime.Set(FBTime(5)));
}

TEST(FBSystemTest, DefaultClockIsMonotonicAndAdvancesWithRealTime) {
  FBSystem system;
  const FBTime a = system.SystemTime;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const FBTime b = system.SystemTime;
  EXPECT_GE((b - a).GetMilliSeconds(), 19);
  EXPECT_GE(a, FBTime::Zero);
}

TEST(FBSystemTest, ScopedClockRestoresTheDefault) {
  {
    fbhost::ManualClock clock(FBTime::FromMilliSeconds(-5));
    fbhost::ScopedClock installed(clock);
    EXPECT_EQ(fbhost::Now().GetMilliSeconds(), -5);
  }
  EXPECT_GE(fbhost::Now(), FBTime::Zero);
  EXPECT_TRUE(fbhost::Now().IsNear(fbhost::DefaultClockNow(), FBTime::FromMilliSeconds(100)));
}

TEST(FBSystemTest, ClockFunctionCanBeAnyCallable) {
  fbhost::ScopedClock installed([] { return FBTime(77); });
  FBSystem system;
  EXPECT_EQ(FBTime(system.SystemTime).Get(), 77);
}

}  // namespace
