// FBTimeCode: named boundary tables per rate, every row checked both ways
// (label -> frame number -> time, and time -> label), then sweeps.
#include <cmath>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include <fbsdk/fbtimecode.h>

namespace {

using Rate = FBTimeCode::Rate;

struct Row {
  const char* name;
  Rate rate;
  int h, m, s, f;
  kLongLong frame;  // frames since 00:00:00:00
  const char* text;
};

// Frame numbers are worked out by hand from the rate's definition, not from
// the code under test: drop-frame minute = 1798 frames, tenth minute = 1800,
// ten minutes = 17 982, one hour = 107 892, one day = 2 589 408.
const Row kRows[] = {
    // FILM_24
    {"film_zero", FBTimeCode::FILM_24, 0, 0, 0, 0, 0, "00:00:00:00"},
    {"film_last_frame_of_second", FBTimeCode::FILM_24, 0, 0, 0, 23, 23, "00:00:00:23"},
    {"film_second_rollover", FBTimeCode::FILM_24, 0, 0, 1, 0, 24, "00:00:01:00"},
    {"film_first_minute_rollover", FBTimeCode::FILM_24, 0, 1, 0, 0, 1440, "00:01:00:00"},
    {"film_tenth_minute", FBTimeCode::FILM_24, 0, 10, 0, 0, 14400, "00:10:00:00"},
    {"film_hour", FBTimeCode::FILM_24, 1, 0, 0, 0, 86400, "01:00:00:00"},
    {"film_last_of_day", FBTimeCode::FILM_24, 23, 59, 59, 23, 2073599, "23:59:59:23"},
    {"film_24_hour_no_wrap", FBTimeCode::FILM_24, 24, 0, 0, 0, 2073600, "24:00:00:00"},
    // PAL_25
    {"pal_zero", FBTimeCode::PAL_25, 0, 0, 0, 0, 0, "00:00:00:00"},
    {"pal_last_frame_of_second", FBTimeCode::PAL_25, 0, 0, 0, 24, 24, "00:00:00:24"},
    {"pal_second_rollover", FBTimeCode::PAL_25, 0, 0, 1, 0, 25, "00:00:01:00"},
    {"pal_first_minute_rollover", FBTimeCode::PAL_25, 0, 1, 0, 0, 1500, "00:01:00:00"},
    {"pal_tenth_minute", FBTimeCode::PAL_25, 0, 10, 0, 0, 15000, "00:10:00:00"},
    {"pal_hour", FBTimeCode::PAL_25, 1, 0, 0, 0, 90000, "01:00:00:00"},
    {"pal_last_of_day", FBTimeCode::PAL_25, 23, 59, 59, 24, 2159999, "23:59:59:24"},
    {"pal_24_hour_no_wrap", FBTimeCode::PAL_25, 24, 0, 0, 0, 2160000, "24:00:00:00"},
    // NTSC_FULL (non-drop 29.97)
    {"ntsc_full_zero", FBTimeCode::NTSC_FULL, 0, 0, 0, 0, 0, "00:00:00:00"},
    {"ntsc_full_last_of_first_minute", FBTimeCode::NTSC_FULL, 0, 0, 59, 29, 1799, "00:00:59:29"},
    {"ntsc_full_first_minute_rollover", FBTimeCode::NTSC_FULL, 0, 1, 0, 0, 1800, "00:01:00:00"},
    {"ntsc_full_minute_one_frame_one", FBTimeCode::NTSC_FULL, 0, 1, 0, 1, 1801, "00:01:00:01"},
    {"ntsc_full_tenth_minute", FBTimeCode::NTSC_FULL, 0, 10, 0, 0, 18000, "00:10:00:00"},
    {"ntsc_full_hour", FBTimeCode::NTSC_FULL, 1, 0, 0, 0, 108000, "01:00:00:00"},
    {"ntsc_full_last_of_day", FBTimeCode::NTSC_FULL, 23, 59, 59, 29, 2591999, "23:59:59:29"},
    // NTSC_DROP
    {"drop_zero", FBTimeCode::NTSC_DROP, 0, 0, 0, 0, 0, "00:00:00;00"},
    {"drop_first_second", FBTimeCode::NTSC_DROP, 0, 0, 1, 0, 30, "00:00:01;00"},
    {"drop_last_of_first_minute", FBTimeCode::NTSC_DROP, 0, 0, 59, 29, 1799, "00:00:59;29"},
    {"drop_first_minute_rollover", FBTimeCode::NTSC_DROP, 0, 1, 0, 2, 1800, "00:01:00;02"},
    {"drop_first_minute_next", FBTimeCode::NTSC_DROP, 0, 1, 0, 3, 1801, "00:01:00;03"},
    {"drop_minute_one_second_one", FBTimeCode::NTSC_DROP, 0, 1, 1, 0, 1828, "00:01:01;00"},
    {"drop_last_of_second_minute", FBTimeCode::NTSC_DROP, 0, 1, 59, 29, 3597, "00:01:59;29"},
    {"drop_second_minute_rollover", FBTimeCode::NTSC_DROP, 0, 2, 0, 2, 3598, "00:02:00;02"},
    {"drop_last_before_tenth_minute", FBTimeCode::NTSC_DROP, 0, 9, 59, 29, 17981, "00:09:59;29"},
    {"drop_tenth_minute_keeps_00", FBTimeCode::NTSC_DROP, 0, 10, 0, 0, 17982, "00:10:00;00"},
    {"drop_tenth_minute_keeps_01", FBTimeCode::NTSC_DROP, 0, 10, 0, 1, 17983, "00:10:00;01"},
    {"drop_tenth_minute_02", FBTimeCode::NTSC_DROP, 0, 10, 0, 2, 17984, "00:10:00;02"},
    {"drop_eleventh_minute_rollover", FBTimeCode::NTSC_DROP, 0, 11, 0, 2, 19782, "00:11:00;02"},
    {"drop_twentieth_minute", FBTimeCode::NTSC_DROP, 0, 20, 0, 0, 35964, "00:20:00;00"},
    {"drop_last_before_hour", FBTimeCode::NTSC_DROP, 0, 59, 59, 29, 107891, "00:59:59;29"},
    {"drop_hour", FBTimeCode::NTSC_DROP, 1, 0, 0, 0, 107892, "01:00:00;00"},
    {"drop_hour_first_minute_rollover", FBTimeCode::NTSC_DROP, 1, 1, 0, 2, 109692, "01:01:00;02"},
    {"drop_last_of_day", FBTimeCode::NTSC_DROP, 23, 59, 59, 29, 2589407, "23:59:59;29"},
    {"drop_24_hour_no_wrap", FBTimeCode::NTSC_DROP, 24, 0, 0, 0, 2589408, "24:00:00;00"},
};

class TimeCodeTableTest : public ::testing::TestWithParam<Row> {};

TEST_P(TimeCodeTableTest, LabelToFrameNumber) {
  const Row& r = GetParam();
  kLongLong n = -1;
  ASSERT_TRUE(FBTimeCode::LabelToFrameNumber(r.rate, r.h, r.m, r.s, r.f, &n));
  EXPECT_EQ(n, r.frame);
}

TEST_P(TimeCodeTableTest, FrameNumberToLabel) {
  const Row& r = GetParam();
  int h = -1, m = -1, s = -1, f = -1;
  ASSERT_TRUE(FBTimeCode::FrameNumberToLabel(r.rate, r.frame, &h, &m, &s, &f));
  EXPECT_EQ(h, r.h);
  EXPECT_EQ(m, r.m);
  EXPECT_EQ(s, r.s);
  EXPECT_EQ(f, r.f);
}

TEST_P(TimeCodeTableTest, TimeCodeToTime) {
  const Row& r = GetParam();
  FBTimeCode tc(r.rate);
  ASSERT_TRUE(tc.SetTimeCode(r.h, r.m, r.s, static_cast<float>(r.f)));
  EXPECT_EQ(tc.GetTime().Get(), r.frame * FBTimeCode::FrameDuration(r.rate).Get());
  EXPECT_EQ(tc.ToString(), r.text);
}

TEST_P(TimeCodeTableTest, TimeToTimeCode) {
  const Row& r = GetParam();
  const kLongLong start = r.frame * FBTimeCode::FrameDuration(r.rate).Get();
  // The frame's first tick and its last tick both read as the frame's label.
  for (kLongLong ticks : {start, start + FBTimeCode::FrameDuration(r.rate).Get() - 1}) {
    FBTimeCode tc(r.rate);
    ASSERT_TRUE(tc.SetTime(FBTime(ticks)));
    EXPECT_EQ(tc.GetHours(), r.h);
    EXPECT_EQ(tc.GetMinutes(), r.m);
    EXPECT_EQ(tc.GetSeconds(), r.s);
    EXPECT_EQ(static_cast<int>(std::floor(tc.GetFrames())), r.f);
    EXPECT_EQ(tc.ToString(), r.text);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, TimeCodeTableTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                           return std::string(info.param.name);
                         });

// Times in seconds for a few labels, worked out independently.
TEST(FBTimeCodeTest, WallClockSeconds) {
  FBTimeCode pal(FBTimeCode::PAL_25);
  ASSERT_TRUE(pal.SetTimeCode(1, 0, 0, 0.0f));
  EXPECT_EQ(pal.GetTime().Get(), 3600 * FBTime::kTicksPerSecond);

  FBTimeCode full(FBTimeCode::NTSC_FULL);
  ASSERT_TRUE(full.SetTimeCode(1, 0, 0, 0.0f));
  EXPECT_EQ(full.GetTime().Get(), 3600 * FBTime::kTicksPerSecond * 1001 / 1000);  // 3603.6 s

  FBTimeCode drop(FBTimeCode::NTSC_DROP);
  ASSERT_TRUE(drop.SetTimeCode(1, 0, 0, 0.0f));
  EXPECT_NEAR(drop.GetTime().GetSecondDouble(), 3599.9964, 1e-9);

  FBTimeCode film(FBTimeCode::FILM_24);
  ASSERT_TRUE(film.SetTimeCode(0, 0, 2, 12.0f));
  EXPECT_EQ(film.GetTime().Get(), FBTime::kTicksPerSecond * 5 / 2);
}

TEST(FBTimeCodeTest, DefaultIsZeroAtDropFrame) {
  FBTimeCode tc;
  EXPECT_EQ(tc.GetRate(), FBTimeCode::NTSC_DROP);
  EXPECT_EQ(tc.GetTime(), FBTime::Zero);
  EXPECT_EQ(tc.ToString(), "00:00:00;00");
}

TEST(FBTimeCodeTest, StreamTimecodeIsStoredAsGiven) {
  FBTimeCode tc(FBTimeCode::NTSC_DROP);
  ASSERT_TRUE(tc.SetTimeCode(10, 20, 30, 12.0f));
  EXPECT_EQ(tc.GetHours(), 10);
  EXPECT_EQ(tc.GetMinutes(), 20);
  EXPECT_EQ(tc.GetSeconds(), 30);
  EXPECT_EQ(tc.GetFrames(), 12.0f);
}

struct BadLabel {
  const char* name;
  Rate rate;
  int h, m, s;
  float f;
};

const BadLabel kBadLabels[] = {
    {"drop_minute_1_frame_00_is_dropped", FBTimeCode::NTSC_DROP, 0, 1, 0, 0.0f},
    {"drop_minute_1_frame_01_is_dropped", FBTimeCode::NTSC_DROP, 0, 1, 0, 1.0f},
    {"drop_minute_1_frame_01_fraction_is_dropped", FBTimeCode::NTSC_DROP, 0, 1, 0, 1.5f},
    {"drop_minute_59_frame_00_is_dropped", FBTimeCode::NTSC_DROP, 2, 59, 0, 0.0f},
    {"frames_at_label_rate_film", FBTimeCode::FILM_24, 0, 0, 0, 24.0f},
    {"frames_at_label_rate_pal", FBTimeCode::PAL_25, 0, 0, 0, 25.0f},
    {"frames_at_label_rate_ntsc", FBTimeCode::NTSC_FULL, 0, 0, 0, 30.0f},
    {"negative_frames", FBTimeCode::PAL_25, 0, 0, 0, -1.0f},
    {"nan_frames", FBTimeCode::PAL_25, 0, 0, 0, std::nanf("")},
    {"infinite_frames", FBTimeCode::PAL_25, 0, 0, 0, HUGE_VALF},
    {"negative_hours", FBTimeCode::PAL_25, -1, 0, 0, 0.0f},
    {"hours_too_large", FBTimeCode::PAL_25, FBTimeCode::kMaxHours + 1, 0, 0, 0.0f},
    {"minutes_60", FBTimeCode::PAL_25, 0, 60, 0, 0.0f},
    {"seconds_60", FBTimeCode::PAL_25, 0, 0, 60, 0.0f},
    {"negative_minutes", FBTimeCode::PAL_25, 0, -1, 0, 0.0f},
    {"negative_seconds", FBTimeCode::PAL_25, 0, 0, -1, 0.0f},
};

class TimeCodeBadLabelTest : public ::testing::TestWithParam<BadLabel> {};

TEST_P(TimeCodeBadLabelTest, RejectedAndUnchanged) {
  const BadLabel& b = GetParam();
  FBTimeCode tc(b.rate);
  ASSERT_TRUE(tc.SetTimeCode(0, 0, 0, 7.0f));
  const FBTimeCode before = tc;
  EXPECT_FALSE(tc.SetTimeCode(b.h, b.m, b.s, b.f));
  EXPECT_EQ(tc, before);
  kLongLong n = 0;
  if (std::isfinite(b.f)) {
    EXPECT_FALSE(FBTimeCode::LabelToFrameNumber(b.rate, b.h, b.m, b.s,
                                                static_cast<int>(std::floor(b.f)), &n));
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, TimeCodeBadLabelTest, ::testing::ValuesIn(kBadLabels),
                         [](const ::testing::TestParamInfo<BadLabel>& info) {
                           return std::string(info.param.name);
                         });

TEST(FBTimeCodeTest, NegativeTimeIsRejected) {
  FBTimeCode tc(FBTimeCode::PAL_25);
  ASSERT_TRUE(tc.SetTimeCode(0, 0, 3, 4.0f));
  const FBTimeCode before = tc;
  EXPECT_FALSE(tc.SetTime(FBTime(-1)));
  EXPECT_EQ(tc, before);
  EXPECT_FALSE(tc.SetTime(FBTime::Infinity));
  EXPECT_EQ(tc, before);
  int h, m, s, f;
  EXPECT_FALSE(FBTimeCode::FrameNumberToLabel(FBTimeCode::PAL_25, -1, &h, &m, &s, &f));
}

TEST(FBTimeCodeTest, FractionalFramesKeepTheirFraction) {
  FBTimeCode tc(FBTimeCode::PAL_25);
  ASSERT_TRUE(tc.SetTimeCode(0, 0, 1, 12.5f));
  const kLongLong frame = FBTimeCode::FrameDuration(FBTimeCode::PAL_25).Get();
  EXPECT_EQ(tc.GetTime().Get(), 37 * frame + frame / 2);
  FBTimeCode back(FBTimeCode::PAL_25);
  ASSERT_TRUE(back.SetTime(tc.GetTime()));
  EXPECT_EQ(back.GetFrames(), 12.5f);
  EXPECT_EQ(back.GetSeconds(), 1);
}

TEST(FBTimeCodeTest, LastTickOfFrameStaysInItsFrame) {
  // A fraction just below one would round to the next frame in a float.
  for (Rate rate :
       {FBTimeCode::FILM_24, FBTimeCode::PAL_25, FBTimeCode::NTSC_FULL, FBTimeCode::NTSC_DROP}) {
    const kLongLong frame = FBTimeCode::FrameDuration(rate).Get();
    FBTimeCode tc(rate);
    ASSERT_TRUE(tc.SetTime(FBTime(29 * frame + frame - 1)));
    EXPECT_LT(tc.GetFrames(), static_cast<float>(FBTimeCode::LabelsPerSecond(rate)));
    FBTimeCode again(rate);
    EXPECT_TRUE(again.SetTimeCode(tc.GetHours(), tc.GetMinutes(), tc.GetSeconds(), tc.GetFrames()));
    EXPECT_TRUE(again.GetTime().IsNear(FBTime(30 * frame - 1), FBTime(frame / 1000)));
  }
}

TEST(FBTimeCodeTest, SetRateKeepsLabelWhenValid) {
  FBTimeCode tc(FBTimeCode::NTSC_FULL);
  ASSERT_TRUE(tc.SetTimeCode(0, 1, 0, 0.0f));
  EXPECT_FALSE(tc.SetRate(FBTimeCode::NTSC_DROP));  // 00:01:00;00 does not exist
  EXPECT_EQ(tc.GetRate(), FBTimeCode::NTSC_FULL);
  ASSERT_TRUE(tc.SetTimeCode(0, 0, 0, 29.0f));
  EXPECT_FALSE(tc.SetRate(FBTimeCode::PAL_25));  // frame 29 at 25 labels/s
  EXPECT_TRUE(tc.SetRate(FBTimeCode::NTSC_DROP));
  EXPECT_EQ(tc.GetRate(), FBTimeCode::NTSC_DROP);
}

// Every frame of the first 25 minutes, and of the minutes around 1 h and
// 10 h: label and frame number round-trip, and consecutive frames get
// consecutive labels, except that drop-frame skips exactly ;00 and ;01 at
// the start of each minute not divisible by ten.
class TimeCodeSweepTest : public ::testing::TestWithParam<Rate> {};

TEST_P(TimeCodeSweepTest, ConsecutiveFramesConsecutiveLabels) {
  const Rate rate = GetParam();
  const int labels = FBTimeCode::LabelsPerSecond(rate);
  const kLongLong perHour = FBTimeCode::IsDropFrame(rate) ? 107892 : 3600LL * labels;
  constexpr kLongLong kMinute = 60LL * 30;  // about a minute of frames, at any rate
  const kLongLong ranges[][2] = {{0, 25 * kMinute},
                                 {perHour - 3 * kMinute, perHour + 12 * kMinute},
                                 {10 * perHour - kMinute, 10 * perHour + kMinute}};
  const kLongLong duration = FBTimeCode::FrameDuration(rate).Get();
  for (const auto& range : ranges) {
    int ph = -1, pm = -1, ps = -1, pf = -1;
    for (kLongLong n = range[0]; n < range[1]; ++n) {
      int h, m, s, f;
      ASSERT_TRUE(FBTimeCode::FrameNumberToLabel(rate, n, &h, &m, &s, &f)) << n;
      kLongLong back = -1;
      ASSERT_TRUE(FBTimeCode::LabelToFrameNumber(rate, h, m, s, f, &back)) << n;
      ASSERT_EQ(back, n);
      if (n % 97 == 0) {  // through FBTime too, on a sample of frames
        FBTimeCode tc(rate);
        ASSERT_TRUE(tc.SetTime(FBTime(n * duration)));
        ASSERT_EQ(tc.GetTime().Get(), n * duration);
        ASSERT_TRUE(tc.SetTimeCode(h, m, s, static_cast<float>(f)));
        ASSERT_EQ(tc.GetTime().Get(), n * duration);
      }
      if (ph >= 0) {
        // The expected successor of the previous label.
        int eh = ph, em = pm, es = ps, ef = pf + 1;
        if (ef == labels) {
          ef = 0;
          if (++es == 60) {
            es = 0;
            if (++em == 60) {
              em = 0;
              ++eh;
            }
          }
        }
        if (FBTimeCode::IsDropFrame(rate) && es == 0 && ef == 0 && em % 10 != 0) ef = 2;
        ASSERT_EQ(std::make_tuple(h, m, s, f), std::make_tuple(eh, em, es, ef)) << "frame " << n;
      }
      ph = h;
      pm = m;
      ps = s;
      pf = f;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rates, TimeCodeSweepTest,
                         ::testing::Values(FBTimeCode::FILM_24, FBTimeCode::PAL_25,
                                           FBTimeCode::NTSC_FULL, FBTimeCode::NTSC_DROP),
                         [](const ::testing::TestParamInfo<Rate>& info) {
                           switch (info.param) {
                             case FBTimeCode::FILM_24:
                               return std::string("FILM_24");
                             case FBTimeCode::PAL_25:
                               return std::string("PAL_25");
                             case FBTimeCode::NTSC_FULL:
                               return std::string("NTSC_FULL");
                             case FBTimeCode::NTSC_DROP:
                               return std::string("NTSC_DROP");
                           }
                           return std::string("unknown");
                         });

}  // namespace
