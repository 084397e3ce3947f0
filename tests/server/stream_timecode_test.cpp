// Timecode labels per standard, as named boundary tables; every row is
// checked in both directions.
#include <gtest/gtest.h>

#include "stream_timecode.h"

namespace orbel::server {
namespace {

struct Row {
  const char* name;
  TimecodeStandard standard;
  std::uint64_t count;
  std::uint32_t h, m, s, f;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kRows[] = {
    {"pal_zero", TimecodeStandard::PAL, 0, 0, 0, 0, 0},
    {"pal_last_frame_of_first_second", TimecodeStandard::PAL, 24, 0, 0, 0, 24},
    {"pal_first_second", TimecodeStandard::PAL, 25, 0, 0, 1, 0},
    {"pal_first_minute", TimecodeStandard::PAL, 1500, 0, 1, 0, 0},
    {"pal_hour", TimecodeStandard::PAL, 90000, 1, 0, 0, 0},
    {"pal_last_of_day", TimecodeStandard::PAL, 2159999, 23, 59, 59, 24},
    {"film_first_second", TimecodeStandard::Film, 24, 0, 0, 1, 0},
    {"film_last_of_day", TimecodeStandard::Film, 2073599, 23, 59, 59, 23},
    {"ntsc_first_minute_rollover", TimecodeStandard::NTSC, 1800, 0, 1, 0, 0},
    {"ntsc_hour", TimecodeStandard::NTSC, 108000, 1, 0, 0, 0},
    {"drop_last_of_first_minute", TimecodeStandard::NTSCDrop, 1799, 0, 0, 59, 29},
    {"drop_first_minute_rollover", TimecodeStandard::NTSCDrop, 1800, 0, 1, 0, 2},
    {"drop_second_minute_rollover", TimecodeStandard::NTSCDrop, 3598, 0, 2, 0, 2},
    {"drop_last_before_tenth_minute", TimecodeStandard::NTSCDrop, 17981, 0, 9, 59, 29},
    {"drop_tenth_minute_keeps_zero", TimecodeStandard::NTSCDrop, 17982, 0, 10, 0, 0},
    {"drop_tenth_minute_frame_one", TimecodeStandard::NTSCDrop, 17983, 0, 10, 0, 1},
    {"drop_eleventh_minute", TimecodeStandard::NTSCDrop, 17982 + 1800, 0, 11, 0, 2},
    {"drop_hour", TimecodeStandard::NTSCDrop, 107892, 1, 0, 0, 0},
    {"drop_last_of_day", TimecodeStandard::NTSCDrop, 2589407, 23, 59, 59, 29},
};

class TimecodeRows : public ::testing::TestWithParam<Row> {};

TEST_P(TimecodeRows, CountToLabel) {
  const Row& r = GetParam();
  const protocol::TimecodeValue tc = countToLabel(r.count, r.standard);
  EXPECT_EQ(tc.hours, r.h);
  EXPECT_EQ(tc.minutes, r.m);
  EXPECT_EQ(tc.seconds, r.s);
  EXPECT_EQ(tc.frames, r.f);
  EXPECT_EQ(tc.standard, static_cast<std::uint32_t>(r.standard));
}

TEST_P(TimecodeRows, LabelToCount) {
  const Row& r = GetParam();
  protocol::TimecodeValue tc;
  tc.hours = r.h;
  tc.minutes = r.m;
  tc.seconds = r.s;
  tc.frames = r.f;
  std::uint64_t count = 0;
  ASSERT_TRUE(labelToCount(tc, r.standard, count));
  EXPECT_EQ(count, r.count);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, TimecodeRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Timecode, WrapsAtTwentyFourHours) {
  for (TimecodeStandard s : {TimecodeStandard::PAL, TimecodeStandard::NTSC,
                             TimecodeStandard::NTSCDrop, TimecodeStandard::Film}) {
    const protocol::TimecodeValue tc = countToLabel(timecodeFramesPerDay(s) + 3, s);
    EXPECT_EQ(tc.hours, 0u);
    EXPECT_EQ(tc.minutes, 0u);
    EXPECT_EQ(tc.seconds, 0u);
    EXPECT_EQ(tc.frames, 3u);
  }
}

TEST(Timecode, EveryDropFrameCountRoundTripsOverTheFirstHour) {
  for (std::uint64_t count = 0; count < 107892 + 20; ++count) {
    std::uint64_t back = 0;
    ASSERT_TRUE(labelToCount(countToLabel(count, TimecodeStandard::NTSCDrop),
                             TimecodeStandard::NTSCDrop, back));
    ASSERT_EQ(back, count);
  }
}

TEST(Timecode, LabelsThatDoNotExistAreRefused) {
  struct Bad {
    TimecodeStandard standard;
    protocol::TimecodeValue label;
  };
  const Bad bad[] = {
      {TimecodeStandard::NTSCDrop, {0, 1, 0, 0, 0}},   // dropped
      {TimecodeStandard::NTSCDrop, {0, 1, 0, 1, 0}},   // dropped
      {TimecodeStandard::NTSCDrop, {5, 59, 0, 1, 0}},  // dropped
      {TimecodeStandard::PAL, {0, 0, 0, 25, 0}},      {TimecodeStandard::Film, {0, 0, 0, 24, 0}},
      {TimecodeStandard::NTSC, {24, 0, 0, 0, 0}},     {TimecodeStandard::NTSC, {0, 60, 0, 0, 0}},
      {TimecodeStandard::NTSC, {0, 0, 60, 0, 0}},     {TimecodeStandard::None, {0, 0, 0, 0, 0}},
  };
  for (const Bad& b : bad) {
    std::uint64_t count = 0;
    EXPECT_FALSE(labelToCount(b.label, b.standard, count))
        << b.label.hours << ":" << b.label.minutes << ":" << b.label.seconds << ":"
        << b.label.frames;
  }
}

TEST(Timecode, CaptureFramesMapToTimecodeFramesAtTheRealRate) {
  struct Case {
    std::uint64_t frame;
    FrameRate rate;
    TimecodeStandard standard;
    std::uint64_t count;
  };
  const Case cases[] = {
      {0, {120, 1}, TimecodeStandard::PAL, 0},
      {119, {120, 1}, TimecodeStandard::PAL, 24},  // 119/120 s: still frame 24
      {120, {120, 1}, TimecodeStandard::PAL, 25},
      {5, {120, 1}, TimecodeStandard::Film, 1},
      // NTSC frames last 1001/30000 s: 1001 capture frames at 120 are 250 of them.
      {1001, {120, 1}, TimecodeStandard::NTSC, 250},
      {1000, {120, 1}, TimecodeStandard::NTSCDrop, 249},
      {3, {60, 1}, TimecodeStandard::None, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(timecodeCountAtFrame(c.frame, c.rate, c.standard), c.count) << c.frame;
  }
}

TEST(Timecode, RatesAreKeptExactToAThousandth) {
  const FrameRate ntsc = FrameRate::fromDouble(119.88);
  EXPECT_EQ(ntsc.numerator * 100, ntsc.denominator * 11988);
  const FrameRate whole = FrameRate::fromDouble(120);
  EXPECT_EQ(whole.numerator, 120u);
  EXPECT_EQ(whole.denominator, 1u);
}

TEST(Timecode, StandardNames) {
  TimecodeStandard s = TimecodeStandard::None;
  EXPECT_TRUE(parseTimecodeStandard("ntscdrop", s));
  EXPECT_EQ(s, TimecodeStandard::NTSCDrop);
  EXPECT_FALSE(parseTimecodeStandard("NTSC-drop", s));
  EXPECT_FALSE(parseTimecodeStandard("", s));
}

}  // namespace
}  // namespace orbel::server
