// Frame acquisition into the records, timecode and the frame-time line,
// against the scripted client with the host's clock driven by hand.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include <fbsdk/fbtimecode.h>

#include "reader_fixture.h"

namespace orbel::testing {
namespace {

constexpr double kSin45 = 0.70710678118654752;

class FrameTest : public ReaderTest {
 protected:
  void SetUp() override {
    ReaderTest::SetUp();
    script.subjects = {Bob()};
    ScriptedSubject& bob = script.subjects[0];
    bob.segments[0].translation = {1, 2, 3};
    bob.segments[1].translation = {4, 5, 6};
    bob.segments[1].rotation = {0, 0, kSin45, kSin45};  // 90 degrees about Z
    bob.markers[0].position = {7, 8, 9};
    for (int i = 0; i < 12; ++i) script.unlabeled.push_back({double(i), 10.0 * i, 0});
    reader->unlabeledMarkerCount = 12;
    ConnectAndDescribe();
  }

  // What the device's input callback does: ask until the reader says no.
  int InputCallback(FBTime* lastStamp = nullptr) {
    int fetched = 0;
    FBTime t = FBTime::FromMilliSeconds(-1);
    for (int calls = 0; calls < 10 && reader->NextFrame(t); ++calls) {
      ++fetched;
      if (lastStamp) *lastStamp = t;
    }
    return fetched;
  }

  // Runs input callbacks until one fetches (at most three).
  FBTime StampOfNextFetch() {
    FBTime stamp = FBTime::FromMilliSeconds(-1);
    for (int i = 0; i < 3 && InputCallback(&stamp) == 0; ++i) {
    }
    return stamp;
  }

  void ChangeEveryValue() {
    for (auto& segment : script.subjects[0].segments) segment.translation[0] += 100;
    for (auto& marker : script.subjects[0].markers) marker.position[0] += 100;
    for (auto& position : script.unlabeled) position[0] += 100;
  }
};

TEST_F(FrameTest, RecordsTakeTheFramesValues) {
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  const SegmentRecord& hips = reader->segments.at("Bob:Hips");
  EXPECT_EQ(hips.translation[0], 1.0);
  EXPECT_EQ(hips.translation[2], 3.0);
  const SegmentRecord& spine = reader->segments.at("Bob:Spine");
  EXPECT_EQ(spine.translation[1], 5.0);
  EXPECT_NEAR(spine.rotation[0], 0.0, 1e-9);
  EXPECT_NEAR(spine.rotation[1], 0.0, 1e-9);
  EXPECT_NEAR(spine.rotation[2], 90.0, 1e-9);
  EXPECT_EQ(reader->markers.at("Bob:LFHD").position[2], 9.0);
  // A marker the server knows nothing about takes what the library answers.
  EXPECT_EQ(reader->markers.at("Bob:RFHD").position[0], 0.0);
}

struct IndexRow {
  const char* name;
  int count;
  const char* key;
  double index;
};

class UnlabeledIndexTest : public FrameTest, public ::testing::WithParamInterface<IndexRow> {};

TEST_P(UnlabeledIndexTest, IndexFollowsKeyOrder) {
  reader->unlabeledMarkerCount = GetParam().count;
  ASSERT_TRUE(reader->ReadDescription(true));
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  const MarkerRecord& record = reader->unlabeledMarkers.at(GetParam().key);
  EXPECT_EQ(record.position[0], GetParam().index);
  EXPECT_EQ(record.position[1], 10.0 * GetParam().index);
}

INSTANTIATE_TEST_SUITE_P(Rows, UnlabeledIndexTest,
                         ::testing::Values(IndexRow{"three_first", 3, "Unlabeled:0", 0},
                                           IndexRow{"three_last", 3, "Unlabeled:2", 2},
                                           IndexRow{"twelve_ten", 12, "Unlabeled:10", 2},
                                           IndexRow{"twelve_eleven", 12, "Unlabeled:11", 3},
                                           IndexRow{"twelve_two", 12, "Unlabeled:2", 4},
                                           IndexRow{"twelve_nine", 12, "Unlabeled:9", 11}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, UnlabelledRecordsBeyondTheFramesCountTakeWhatTheLibraryAnswers) {
  script.unlabeled.resize(2);
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:1").position[0], 1.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:9").position[0], 0.0);
}

TEST_F(FrameTest, PausedReaderFetchesNothing) {
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  ChangeEveryValue();
  ASSERT_TRUE(reader->SetPaused(true));
  EXPECT_TRUE(reader->Paused());
  script.ClearCalls();
  EXPECT_FALSE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(script.Count("GetFrame"), 0);
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 1.0);
  EXPECT_EQ(reader->markers.at("Bob:LFHD").position[0], 7.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:1").position[0], 1.0);

  ASSERT_TRUE(reader->SetPaused(false));
  EXPECT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 101.0);
}

struct KindRow {
  const char* name;
  std::function<bool(OrbelDataReader&)> disable;
  bool segmentsRefreshed;
  bool markersRefreshed;
  bool unlabeledRefreshed;
};

class DisabledKindTest : public FrameTest, public ::testing::WithParamInterface<KindRow> {};

TEST_P(DisabledKindTest, DisabledKindKeepsItsRecords) {
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  ASSERT_TRUE(GetParam().disable(*reader));
  ASSERT_TRUE(reader->StreamOptionsApplied());
  ChangeEveryValue();
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0] == 101.0, GetParam().segmentsRefreshed);
  EXPECT_EQ(reader->markers.at("Bob:LFHD").position[0] == 107.0, GetParam().markersRefreshed);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:1").position[0] == 101.0,
            GetParam().unlabeledRefreshed);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DisabledKindTest,
    ::testing::Values(KindRow{"segments",
                              [](OrbelDataReader& r) { return r.SetSegmentData(false); }, false,
                              true, true},
                      KindRow{"markers", [](OrbelDataReader& r) { return r.SetMarkerData(false); },
                              true, false, true},
                      KindRow{"unlabeled",
                              [](OrbelDataReader& r) { return r.SetUnlabeledMarkerData(false); },
                              true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, RefusedFrameLeavesRecordsUnchanged) {
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  ChangeEveryValue();
  const std::vector<std::pair<const char*, std::function<void()>>> refusals = {
      {"options not applied",
       [&] {
         script.acknowledgeKinds = false;
         reader->SetSegmentData(false);
       }},
      {"connection lost", [&] { script.connected = false; }},
  };
  for (const auto& refusal : refusals) {
    SCOPED_TRACE(refusal.first);
    refusal.second();
    EXPECT_FALSE(reader->ReadFrame(FBTime::Zero));
    EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 1.0);
    EXPECT_EQ(reader->markers.at("Bob:LFHD").position[0], 7.0);
  }
}

TEST_F(FrameTest, DataLockHeldElsewhereRefusesTheFrame) {
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  ChangeEveryValue();
  script.ClearCalls();
  {
    DataLockHolder holder(*reader);
    ASSERT_TRUE(holder.held());
    EXPECT_FALSE(reader->ReadFrame(FBTime::Zero));
  }
  EXPECT_EQ(script.Count("GetFrame"), 0);
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 1.0);
  EXPECT_TRUE(reader->ReadFrame(FBTime::Zero)) << "the lock is free again";
}

TEST_F(FrameTest, HolderOfTheDataLockMayStillUseTheReader) {
  OrbelDataReader::ScopedDataLock lock(*reader);
  ASSERT_TRUE(lock.owns());
  EXPECT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_TRUE(reader->ReadDescription(true));
  EXPECT_TRUE(reader->ResetFrameTime(FBTime::Zero));
}

TEST_F(FrameTest, RecordsMadeOutsideTheReaderAreFilledByName) {
  // As a stored scene makes them: the fields only, under the stored key.
  SegmentRecord restored;
  restored.subject = "Bob";
  restored.name = "Spine";
  reader->segments["Stored:Key"] = restored;
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Stored:Key").translation[0], 4.0);

  // A record renamed in place answers for its new name.
  reader->segments.at("Stored:Key").name = "Hips";
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Stored:Key").translation[0], 1.0);
}

TEST_F(FrameTest, RecordsRenamedToANameOfTheSameLengthFollowIt) {
  // The client's copy of a name is rebuilt only when the record's text
  // differs; a comparison that looked at lengths or only some bytes would
  // keep asking for the old name. Hips/Head differ in their last three
  // bytes, LFHD/RFHD in their first.
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  reader->segments.at("Bob:Hips").name = "Head";
  reader->markers.at("Bob:RFHD").name = "LFHD";
  script.subjects[0].segments[2].translation = {11, 12, 13};  // Head
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 11.0);
  EXPECT_EQ(reader->markers.at("Bob:RFHD").position[0], 7.0);
  reader->segments.at("Bob:Hips").name = "Hips";
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Bob:Hips").translation[0], 1.0);
}

TEST_F(FrameTest, EditsOfTheContainersReachTheNextFrame) {
  // Each edit below keeps the number of records, so only the reported
  // change or the records at the ends tell the frame that its walk is stale;
  // reading a freed record would show under the address sanitizer.
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  reader->segments.erase("Bob:Spine");
  SegmentRecord head;
  head.subject = "Bob";
  head.name = "Head";
  reader->segments["Bob:Zed"] = head;
  reader->DescriptionChanged();
  script.subjects[0].segments[2].translation = {11, 12, 13};
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->segments.at("Bob:Zed").translation[0], 11.0);

  // Whole containers swapped for copies, unreported: the copies' records
  // are the ones the frame must fill.
  OrbelDataReader::MarkerMap markers = reader->markers;
  OrbelDataReader::MarkerMap unlabeled = reader->unlabeledMarkers;
  reader->markers.swap(markers);
  reader->unlabeledMarkers.swap(unlabeled);
  ChangeEveryValue();
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->markers.at("Bob:LFHD").position[0], 107.0);
  EXPECT_EQ(reader->unlabeledMarkers.at("Unlabeled:1").position[0], 101.0);
  EXPECT_EQ(markers.at("Bob:LFHD").position[0], 7.0);
}

TEST_F(FrameTest, EmptyDescriptionStillAnswersTrue) {
  reader->ClearDescription();
  EXPECT_TRUE(reader->ReadFrame(FBTime::Zero));
}

// ---- timecode ----

struct StandardRow {
  const char* name;
  int code;
  FBTimeCode::Rate rate;
  bool known;
};

class TimecodeStandardTest : public FrameTest, public ::testing::WithParamInterface<StandardRow> {};

TEST_P(TimecodeStandardTest, RateFromStandard) {
  reader->timecode = FBTimeCode(FBTimeCode::FILM_24);
  ASSERT_TRUE(reader->timecode.SetTimeCode(1, 2, 3, 4));
  script.timecode.Standard = static_cast<sdk::TimecodeStandard::Enum>(GetParam().code);
  EXPECT_EQ(reader->ReadTimecodeStandard(), GetParam().known);
  EXPECT_EQ(reader->timecode.GetRate(), GetParam().rate);
  EXPECT_EQ(reader->timecode.GetHours(), 0) << "the earlier label is dropped";
  EXPECT_EQ(reader->timecode.GetFrames(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Standards, TimecodeStandardTest,
                         ::testing::Values(StandardRow{"pal", 1, FBTimeCode::PAL_25, true},
                                           StandardRow{"ntsc", 2, FBTimeCode::NTSC_FULL, true},
                                           StandardRow{"ntsc_drop", 3, FBTimeCode::NTSC_DROP, true},
                                           StandardRow{"film", 4, FBTimeCode::FILM_24, true},
                                           StandardRow{"none", 0, FBTimeCode::NTSC_DROP, false},
                                           StandardRow{"five", 5, FBTimeCode::NTSC_DROP, false},
                                           StandardRow{"large", 255, FBTimeCode::NTSC_DROP, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, TimecodeStartsAtNtscDrop) {
  EXPECT_EQ(OrbelDataReader().timecode.GetRate(), FBTimeCode::NTSC_DROP);
}

struct StreamTimecodeRow {
  const char* name;
  unsigned hours, minutes, seconds, frames;
  int expectHours, expectMinutes, expectSeconds;
  float expectFrames;
};

class UpdateTimecodeTest : public FrameTest,
                           public ::testing::WithParamInterface<StreamTimecodeRow> {};

TEST_P(UpdateTimecodeTest, FrameCarriesTheStreamsTimecode) {
  script.timecode.Standard = sdk::TimecodeStandard::PAL;
  ASSERT_TRUE(reader->ReadTimecodeStandard());
  ASSERT_TRUE(reader->timecode.SetTimeCode(1, 1, 1, 1));  // the last good label
  reader->SetUseTimecode(true);
  const StreamTimecodeRow& row = GetParam();
  script.timecode.Hours = row.hours;
  script.timecode.Minutes = row.minutes;
  script.timecode.Seconds = row.seconds;
  script.timecode.Frames = row.frames;
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(reader->timecode.GetRate(), FBTimeCode::PAL_25);
  EXPECT_EQ(reader->timecode.GetHours(), row.expectHours);
  EXPECT_EQ(reader->timecode.GetMinutes(), row.expectMinutes);
  EXPECT_EQ(reader->timecode.GetSeconds(), row.expectSeconds);
  EXPECT_EQ(reader->timecode.GetFrames(), row.expectFrames);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, UpdateTimecodeTest,
    ::testing::Values(StreamTimecodeRow{"plain", 10, 20, 30, 12, 10, 20, 30, 12.0f},
                      // Labels the rate does not have keep the last good one.
                      StreamTimecodeRow{"frames_beyond_rate", 10, 20, 30, 25, 1, 1, 1, 1.0f},
                      StreamTimecodeRow{"minutes_60", 0, 60, 0, 0, 1, 1, 1, 1.0f},
                      StreamTimecodeRow{"hours_beyond_int", 4000000000u, 0, 0, 0, 1, 1, 1, 1.0f}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, TimecodeIsReadOnlyWhenUsed) {
  script.ClearCalls();
  ASSERT_TRUE(reader->ReadFrame(FBTime::Zero));
  EXPECT_EQ(script.Count("GetTimecode"), 0);
}

// ---- frame time ----

TEST_F(FrameTest, FetchNeedsMoreThanElevenMsOfHostTime) {
  hostClock.Set(FBTime::FromMilliSeconds(1000));
  FBTime stamp;
  EXPECT_EQ(InputCallback(), 0) << "the first call only reads the host's time";
  EXPECT_EQ(InputCallback(&stamp), 1) << "a callback takes in at most one sample";
  EXPECT_EQ(stamp, FBTime::FromMilliSeconds(1000));

  hostClock.AdvanceMilliSeconds(11);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(InputCallback(), 0) << "11 ms is not enough, call " << i;

  hostClock.AdvanceMilliSeconds(1);
  EXPECT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(1012));
}

TEST_F(FrameTest, TwoCallsInARowFetchOnce) {
  hostClock.Set(FBTime::FromMilliSeconds(500));
  FBTime t;
  EXPECT_FALSE(reader->NextFrame(t));
  EXPECT_TRUE(reader->NextFrame(t));
  const FBTime stamped = t;
  EXPECT_FALSE(reader->NextFrame(t));
  EXPECT_EQ(t, stamped) << "a false answer leaves the time alone";
}

TEST_F(FrameTest, TimeLineRestartsAtResetFrameTime) {
  hostClock.Set(FBTime::FromMilliSeconds(1000));
  ASSERT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(1000));

  const FBTime t0 = FBTime::FromMilliSeconds(5000);
  ASSERT_TRUE(reader->ResetFrameTime(t0));
  hostClock.AdvanceMilliSeconds(40);
  EXPECT_EQ(StampOfNextFetch(), t0 + FBTime::FromMilliSeconds(40));
  hostClock.AdvanceMilliSeconds(100);
  EXPECT_EQ(StampOfNextFetch(), t0 + FBTime::FromMilliSeconds(140));
}

TEST_F(FrameTest, TimeLineStartsAtTheTimecodeWhenUsed) {
  script.timecode.Standard = sdk::TimecodeStandard::PAL;
  script.timecode.Seconds = 2;
  ASSERT_TRUE(reader->ReadTimecodeStandard());
  reader->SetUseTimecode(true);
  hostClock.Set(FBTime::FromMilliSeconds(1000));
  ASSERT_NE(StampOfNextFetch(), FBTime::FromMilliSeconds(-1));

  ASSERT_TRUE(reader->ResetFrameTime(FBTime::FromMilliSeconds(123456)));
  hostClock.AdvanceMilliSeconds(40);
  EXPECT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(2040));
}

TEST_F(FrameTest, ResetRefusedWhileTheDataLockIsHeldKeepsTheTimeLine) {
  hostClock.Set(FBTime::FromMilliSeconds(1000));
  ASSERT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(1000));
  {
    DataLockHolder holder(*reader);
    ASSERT_TRUE(holder.held());
    EXPECT_FALSE(reader->ResetFrameTime(FBTime::FromMilliSeconds(5000)));
  }
  hostClock.AdvanceMilliSeconds(40);
  EXPECT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(1040));
}

TEST_F(FrameTest, PausedReaderTakesInNoSample) {
  hostClock.Set(FBTime::FromMilliSeconds(1000));
  ASSERT_TRUE(reader->SetPaused(true));
  for (int i = 0; i < 3; ++i) {
    hostClock.AdvanceMilliSeconds(20);
    EXPECT_EQ(InputCallback(), 0);
  }
  ASSERT_TRUE(reader->SetPaused(false));
  // The first sample after the pause carries the host's time now, not the
  // time the pause began.
  EXPECT_EQ(StampOfNextFetch(), FBTime::FromMilliSeconds(1060));
}

}  // namespace
}  // namespace orbel::testing
