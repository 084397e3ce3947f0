// Timecode labels and frame counts, checked in both directions at each
// counting's boundaries.
#include "timecode.h"

#include <gtest/gtest.h>

namespace orbel::server::playback {
namespace {

struct LabelRow {
  const char* name;
  std::uint32_t standard;
  std::uint64_t frames;
  protocol::TimecodeValue label;
};

std::ostream& operator<<(std::ostream& os, const LabelRow& row) { return os << row.name; }

class TimecodeLabels : public ::testing::TestWithParam<LabelRow> {};

TEST_P(TimecodeLabels, FramesAndLabelAgreeBothWays) {
  const LabelRow& row = GetParam();
  TimecodeCounting counting;
  ASSERT_TRUE(countingOfStandard(row.standard, counting));

  protocol::TimecodeValue label;
  framesToLabel(row.frames, counting, label);
  EXPECT_EQ(formatLabel(label, counting.dropFrame), formatLabel(row.label, counting.dropFrame));

  std::uint64_t frames = 0;
  std::string error;
  ASSERT_TRUE(labelToFrames(row.label, counting, frames, error)) << error;
  EXPECT_EQ(frames, row.frames);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, TimecodeLabels,
    ::testing::Values(
        LabelRow{"pal_midnight", 1, 0, {0, 0, 0, 0, 0}},
        LabelRow{"pal_first_second_rollover", 1, 25, {0, 0, 1, 0, 0}},
        LabelRow{"pal_first_minute_rollover", 1, 1500, {0, 1, 0, 0, 0}},
        LabelRow{"pal_hour", 1, 90000, {1, 0, 0, 0, 0}},
        LabelRow{"pal_last_of_day", 1, 2159999, {23, 59, 59, 24, 0}},
        LabelRow{"pal_sample", 1, (10 * 3600 + 20 * 60 + 30) * 25 + 12, {10, 20, 30, 12, 0}},
        LabelRow{"film_first_minute_rollover", 4, 1440, {0, 1, 0, 0, 0}},
        LabelRow{"film_last_of_day", 4, 2073599, {23, 59, 59, 23, 0}},
        LabelRow{"ntsc_first_minute_rollover", 2, 1800, {0, 1, 0, 0, 0}},
        LabelRow{"ntsc_tenth_minute", 2, 18000, {0, 10, 0, 0, 0}},
        LabelRow{"drop_last_of_first_minute", 3, 1799, {0, 0, 59, 29, 0}},
        LabelRow{"drop_first_minute_rollover", 3, 1800, {0, 1, 0, 2, 0}},
        LabelRow{"drop_second_minute_rollover", 3, 3598, {0, 2, 0, 2, 0}},
        LabelRow{"drop_last_of_ninth_minute", 3, 17981, {0, 9, 59, 29, 0}},
        LabelRow{"drop_tenth_minute", 3, 17982, {0, 10, 0, 0, 0}},
        LabelRow{"drop_tenth_minute_second_frame", 3, 17983, {0, 10, 0, 1, 0}},
        LabelRow{"drop_eleventh_minute", 3, 19782, {0, 11, 0, 2, 0}},
        LabelRow{"drop_hour", 3, 107892, {1, 0, 0, 0, 0}},
        LabelRow{"drop_last_of_day", 3, 2589407, {23, 59, 59, 29, 0}}),
    [](const ::testing::TestParamInfo<LabelRow>& info) { return std::string(info.param.name); });

TEST(TimecodeCountingTest, LabelsWrapAtTwentyFourHours) {
  for (std::uint32_t standard : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(standard);
    TimecodeCounting counting;
    ASSERT_TRUE(countingOfStandard(standard, counting));
    protocol::TimecodeValue label;
    framesToLabel(framesPerDay(counting) + 3, counting, label);
    EXPECT_EQ(formatLabel(label, false), "00:00:00:03");
  }
}

TEST(TimecodeCountingTest, OnlyTheFourStandardsHaveACounting) {
  TimecodeCounting counting;
  for (std::uint32_t standard : {0u, 5u, 6u, 4294967295u}) {
    EXPECT_FALSE(countingOfStandard(standard, counting)) << standard;
  }
}

TEST(TimecodeCountingTest, ImpossibleLabelsAreRefusedWithTheLabel) {
  struct Row {
    std::uint32_t standard;
    protocol::TimecodeValue label;
    const char* message;
  };
  const Row rows[] = {
      {1, {0, 0, 0, 25, 0}, "timecode 00:00:00:25 is out of range"},
      {1, {24, 0, 0, 0, 0}, "timecode 24:00:00:00 is out of range"},
      {2, {0, 60, 0, 0, 0}, "timecode 00:60:00:00 is out of range"},
      {4, {0, 0, 60, 0, 0}, "timecode 00:00:60:00 is out of range"},
      {3, {0, 1, 0, 0, 0}, "timecode 00:01:00;00 does not exist in drop-frame counting"},
      {3, {5, 59, 0, 1, 0}, "timecode 05:59:00;01 does not exist in drop-frame counting"},
  };
  for (const Row& row : rows) {
    TimecodeCounting counting;
    ASSERT_TRUE(countingOfStandard(row.standard, counting));
    std::uint64_t frames = 0;
    std::string error;
    EXPECT_FALSE(labelToFrames(row.label, counting, frames, error));
    EXPECT_NE(error.find(row.message), std::string::npos) << error;
  }
}

TEST(TimecodeCountingTest, DropFrameLabelsNeverSkipTheWrongFrames) {
  // Every frame of the first hour maps to a label that maps back to it, and
  // consecutive frames never share a label.
  TimecodeCounting counting;
  ASSERT_TRUE(countingOfStandard(3, counting));
  std::string previous;
  for (std::uint64_t f = 0; f < 107892; ++f) {
    protocol::TimecodeValue label;
    framesToLabel(f, counting, label);
    std::uint64_t back = 0;
    std::string error;
    ASSERT_TRUE(labelToFrames(label, counting, back, error)) << f << ": " << error;
    ASSERT_EQ(back, f);
    const std::string text = formatLabel(label, true);
    ASSERT_NE(text, previous);
    previous = text;
  }
}

}  // namespace
}  // namespace orbel::server::playback
