#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include <fbsdk/fbtime.h>

namespace {

constexpr kLongLong kSecond = FBTime::kTicksPerSecond;

static_assert(FBTime::kTicksPerSecond == 705600000LL, "resolution");
static_assert(FBTime::kTicksPerNtscFrame == 23543520LL, "one NTSC frame is a whole tick count");
static_assert(FBTime::kTicksPerNtscFrame * 30000 == kSecond * 1001, "NTSC frame exact");
static_assert(FBTime::FromMilliSeconds(11).GetMilliSeconds() == 11, "constexpr round trip");
static_assert(FBTime::Zero.Get() == 0, "zero");

TEST(FBTimeTest, ResolutionDividesEveryKnownRate) {
  for (kLongLong rate : {24, 25, 30, 60, 90, 120, 240, 1000}) {
    SCOPED_TRACE(rate);
    EXPECT_EQ(kSecond % rate, 0);
  }
}

TEST(FBTimeTest, DefaultIsZero) {
  FBTime t;
  EXPECT_EQ(t.Get(), 0);
  EXPECT_EQ(t, FBTime::Zero);
}

TEST(FBTimeTest, MilliSecondsSetExactly) {
  FBTime t;
  t.SetMilliSeconds(1234);
  EXPECT_EQ(t.Get(), 1234 * 705600LL);
  EXPECT_EQ(t.GetMilliSeconds(), 1234);
  t.SetMilliSeconds(-7);
  EXPECT_EQ(t.GetMilliSeconds(), -7);
}

TEST(FBTimeTest, MilliSecondsTruncateTowardZero) {
  EXPECT_EQ(FBTime(705600 * 2 - 1).GetMilliSeconds(), 1);  // 1.999... ms
  EXPECT_EQ(FBTime(-(705600 * 2 - 1)).GetMilliSeconds(), -1);
  EXPECT_EQ(FBTime(705599).GetMilliSeconds(), 0);
}

TEST(FBTimeTest, SecondDoubleRoundsToNearestTick) {
  FBTime t;
  t.SetSecondDouble(1.5);
  EXPECT_EQ(t.Get(), kSecond * 3 / 2);
  EXPECT_DOUBLE_EQ(t.GetSecondDouble(), 1.5);
  t.SetSecondDouble(1.0 / 120.0);
  EXPECT_EQ(t.Get(), kSecond / 120);  // the device's sampling period is exact
  t.SetSecondDouble(0.008333333333333333);
  EXPECT_EQ(t.Get(), kSecond / 120);
  t.SetSecondDouble(-2.25);
  EXPECT_EQ(t.Get(), -kSecond * 9 / 4);
}

TEST(FBTimeTest, SecondDoubleEdgeInputs) {
  FBTime t(5);
  t.SetSecondDouble(std::nan(""));
  EXPECT_EQ(t.Get(), 0);
  t.SetSecondDouble(1e300);
  EXPECT_EQ(t, FBTime::Infinity);
  t.SetSecondDouble(-1e300);
  EXPECT_EQ(t, FBTime::MinusInfinity);
  t.SetSecondDouble(std::numeric_limits<double>::infinity());
  EXPECT_EQ(t, FBTime::Infinity);
}

TEST(FBTimeTest, ArithmeticAndComparisons) {
  const FBTime a = FBTime::FromMilliSeconds(40);
  const FBTime b = FBTime::FromMilliSeconds(11);
  EXPECT_EQ((a + b).GetMilliSeconds(), 51);
  EXPECT_EQ((a - b).GetMilliSeconds(), 29);
  EXPECT_EQ((-a).GetMilliSeconds(), -40);
  FBTime c = a;
  c += b;
  EXPECT_EQ(c.GetMilliSeconds(), 51);
  c -= a;
  EXPECT_EQ(c, b);
  EXPECT_LT(b, a);
  EXPECT_LE(b, b);
  EXPECT_GT(a, b);
  EXPECT_GE(a, a);
  EXPECT_NE(a, b);
}

TEST(FBTimeTest, ExactAndTolerantEqualityDiffer) {
  const FBTime a(1000);
  const FBTime b(1003);
  EXPECT_NE(a, b);
  EXPECT_TRUE(a.IsNear(b, FBTime(3)));
  EXPECT_TRUE(b.IsNear(a, FBTime(3)));
  EXPECT_FALSE(a.IsNear(b, FBTime(2)));
}

TEST(FBTimeTest, ConvertersInPairs) {
  EXPECT_EQ(FBTime::FromTicks(42).Get(), 42);
  EXPECT_EQ(FBTime::FromMilliSeconds(3).Get(), 3 * 705600);
  EXPECT_EQ(FBTime::FromSecondDouble(2.0).Get(), 2 * kSecond);
}

TEST(FBTimeSpanTest, HalfOpenInterval) {
  const FBTimeSpan span(FBTime(10), FBTime(20));
  EXPECT_EQ(span.GetStart(), FBTime(10));
  EXPECT_EQ(span.GetStop(), FBTime(20));
  EXPECT_EQ(span.GetDuration(), FBTime(10));
  EXPECT_TRUE(span.ContainsExclusiveStop(FBTime(10)));
  EXPECT_TRUE(span.ContainsExclusiveStop(FBTime(19)));
  EXPECT_FALSE(span.ContainsExclusiveStop(FBTime(20)));
  EXPECT_FALSE(span.ContainsExclusiveStop(FBTime(9)));
}

TEST(FBTimeSpanTest, SetAndReversed) {
  FBTimeSpan span;
  EXPECT_EQ(span.GetDuration(), FBTime::Zero);
  span.Set(FBTime(30), FBTime(5));
  EXPECT_EQ(span.GetDuration(), FBTime(-25));
  span.SetStart(FBTime(1));
  span.SetStop(FBTime(2));
  EXPECT_EQ(span, FBTimeSpan(FBTime(1), FBTime(2)));
}

}  // namespace
