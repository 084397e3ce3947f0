// Recording the synthetic scene through the host's transport, with input and
// evaluation passes stepped by hand on a host clock that moves only when
// told, so that every sample's time is known exactly.
#include <algorithm>
#include <array>
#include <chrono>
#include <map>
#include <thread>

#include <fbhost/clock.h>
#include <fbhost/engine.h>
#include <fbsdk/fbtake.h>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

using Values = std::array<double, 3>;

class RecordingTest : public DeviceTest, public ::testing::WithParamInterface<bool> {
 protected:
  // Input passes after the clock moved by `stepMs`, until one takes a
  // sample in (a pass before the server's next frame takes none), then one
  // evaluation pass. Answers whether a sample was taken in, and notes its
  // stamp: the host time when the reader last looked at the clock, which is
  // the pass before when the first pass takes it, else this one.
  bool Step(const FBDevice* device, long long stepMs) {
    mPreviousPassMs = mClock.Now().GetMilliSeconds();
    mClock.AdvanceMilliSeconds(stepMs);
    const std::int64_t before = Acks(device);
    fbhost::StepInput();
    if (Acks(device) == before) {
      mPreviousPassMs = mClock.Now().GetMilliSeconds();
      if (!Eventually([&] {
            fbhost::StepInput();
            return Acks(device) > before;
          })) {
        return false;
      }
    }
    fbhost::StepEvaluation();
    return Acks(device) == before + 1;
  }

  fbhost::ManualClock mClock{FBTime::FromMilliSeconds(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
  long long mPreviousPassMs = 0;
};

// Two seconds of recording: every keyed node gets one key per sample taken
// in, in layer 0, at the sample's time (not the pass's transport time),
// holding that sample's own values, as its node is written with them;
// unlabelled markers get no key; the take's span follows the timecode.
TEST_P(RecordingTest, EverySampleBecomesOneKeyPerNode) {
  const bool useTimecode = GetParam();
  std::string error;
  ASSERT_TRUE(mServer.StartSynthetic(useTimecode, error)) << error;
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(20);
  device->SetUseTimecode(useTimecode);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  device->Recording = true;

  FBTake* take = fbhost::CurrentTake();
  take->CreateNewLayer();
  take->CreateNewLayer();
  take->SetCurrentLayer(2);
  const FBTimeSpan spanBefore = take->LocalTimeSpan;

  // Steady input before the recording: every pass takes a sample.
  ASSERT_TRUE(Eventually([&] { return Step(device, 12); }));
  ASSERT_TRUE(Step(device, 12));
  const long long lastFetchBeforeMs = mPreviousPassMs;

  OrbelDataReader& reader = *Access::Reader(*device);
  const FBTime timecodeAtStart = reader.timecode.GetTime();
  const FBTime transportAtStart = fbhost::TransportTime();
  ASSERT_TRUE(fbhost::TransportRecord());
  EXPECT_EQ(take->GetCurrentLayer(), 0);
  const FBTime base = useTimecode ? timecodeAtStart : transportAtStart;

  // Every node the device keys, with the node that receives its keys.
  std::map<FBAnimationNode*, FBAnimationNode*> keyed;
  for (const auto* map : {&Access::TranslationNodes(*device), &Access::RotationNodes(*device),
                          &Access::MarkerNodes(*device)}) {
    for (const auto& entry : *map) {
      if (entry.first.str().rfind("Unlabeled", 0) == 0) continue;
      FBAnimationNode* target = entry.second->GetAnimationToRecord();
      ASSERT_NE(target, nullptr) << entry.first;
      keyed[entry.second] = target;
    }
  }
  ASSERT_EQ(keyed.size(), 2u * 22u * 2u + 2u * 44u);

  // Two seconds in uneven steps, so that a sample's time and the pass's
  // transport time differ.
  std::vector<FBTime> sampleTimes;
  std::map<FBAnimationNode*, std::vector<Values>> expected;
  long long elapsedMs = 0;
  for (int i = 0; elapsedMs < 2000; ++i) {
    const long long stepMs = i % 2 == 0 ? 20 : 12;
    ASSERT_TRUE(Step(device, stepMs)) << "pass " << i;
    // The evaluation pass of the step wrote the sample its input pass took.
    std::map<FBAnimationNode*, Values> held;
    for (const auto& entry : keyed) entry.first->ReadData(held[entry.first].data());
    elapsedMs += stepMs;
    sampleTimes.push_back(base + FBTime::FromMilliSeconds(mPreviousPassMs - lastFetchBeforeMs));
    for (const auto& entry : held) expected[entry.first].push_back(entry.second);
  }
  const FBTime timecodeAtStop = reader.timecode.GetTime();
  ASSERT_TRUE(fbhost::TransportStop());

  for (const auto& [node, target] : keyed) {
    SCOPED_TRACE(node->Name.Get().Buffer());
    const std::vector<FBTakeKey> keys = take->GetKeys(target, 0);
    ASSERT_EQ(keys.size(), sampleTimes.size());
    for (std::size_t k = 0; k < keys.size(); ++k) {
      EXPECT_EQ(keys[k].time, sampleTimes[k]) << "key " << k;
      EXPECT_EQ((Values{keys[k].value[0], keys[k].value[1], keys[k].value[2]}), expected[node][k])
          << "key " << k;
      EXPECT_EQ(keys[k].interpolation, kFBInterpolationCubic);
      EXPECT_EQ(keys[k].tangentMode, kFBTangentModeAuto);
    }
    EXPECT_TRUE(take->GetKeys(target, 2).empty());
  }
  for (const FBTakeCurve& curve : take->GetCurves()) {
    EXPECT_EQ(curve.layer, 0) << curve.nodeName;
    EXPECT_NE(curve.nodeName.rfind("Unlabeled", 0), 0u) << curve.nodeName;
  }

  if (useTimecode) {
    EXPECT_EQ(take->LocalTimeSpan.Get(), FBTimeSpan(timecodeAtStart, timecodeAtStop));
  } else {
    EXPECT_EQ(take->LocalTimeSpan.Get(), spanBefore);
    EXPECT_EQ(Access::SpanStart(*device), transportAtStart);
    EXPECT_EQ(Access::SpanEnd(*device), transportAtStart);
  }
}

INSTANTIATE_TEST_SUITE_P(Timecode, RecordingTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "On" : "Off";
                         });

class ThreadedRecordingTest : public DeviceTest {};

// The same through the host's own input and evaluation threads on its real
// clock: every keyed node receives the same keys (one per sample, at the
// same times), and no sample taken in while recording goes unkeyed but
// those at the transport's edges.
TEST_F(ThreadedRecordingTest, HostThreadsKeyEveryNodeAtEverySample) {
  std::string error;
  ASSERT_TRUE(mServer.StartSynthetic(false, error)) << error;
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(20);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  device->Recording = true;
  ASSERT_TRUE(fbhost::StartEngine());

  ASSERT_TRUE(fbhost::TransportRecord());
  std::map<FBAnimationNode*, FBAnimationNode*> keyed;
  for (const auto* map : {&Access::TranslationNodes(*device), &Access::RotationNodes(*device),
                          &Access::MarkerNodes(*device)}) {
    for (const auto& entry : *map) {
      if (entry.first.str().rfind("Unlabeled", 0) == 0) continue;
      keyed[entry.second] = entry.second->GetAnimationToRecord();
    }
  }
  const auto acksAtStart = fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const auto acksAtStop = fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  ASSERT_TRUE(fbhost::TransportStop());
  fbhost::StopEngine();

  FBTake* take = fbhost::CurrentTake();
  std::vector<FBTime> times;
  for (const auto& [node, target] : keyed) {
    SCOPED_TRACE(node->Name.Get().Buffer());
    ASSERT_NE(target, nullptr);
    std::vector<FBTime> nodeTimes;
    for (const FBTakeKey& key : take->GetKeys(target, 0)) nodeTimes.push_back(key.time);
    if (times.empty()) times = nodeTimes;
    EXPECT_EQ(nodeTimes, times);
  }
  EXPECT_GT(times.size(), 0u);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  EXPECT_EQ(std::adjacent_find(times.begin(), times.end()), times.end());
  const auto samples = static_cast<std::size_t>(acksAtStop - acksAtStart);
  EXPECT_GE(times.size() + 2, samples);
  for (const FBTakeCurve& curve : take->GetCurves()) {
    EXPECT_NE(curve.nodeName.rfind("Unlabeled", 0), 0u) << curve.nodeName;
  }
}

class TransportTest : public DeviceTest {};

// A stop without an open span changes nothing; playing (not recording)
// opens no span; a layer already 0 is not set again.
TEST_F(TransportTest, SpanOpensOnlyWhenRecording) {
  Serve("timecode_pal.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetUseTimecode(true);
  ASSERT_TRUE(GoOnline(device));
  device->Recording = true;

  FBTake* take = fbhost::CurrentTake();
  const FBTimeSpan spanBefore = take->LocalTimeSpan;
  ASSERT_TRUE(fbhost::TransportPlay());
  EXPECT_FALSE(Access::SpanOpen(*device));
  ASSERT_TRUE(fbhost::TransportStop());
  EXPECT_EQ(Access::SpanStart(*device), FBTime());
  EXPECT_EQ(Access::SpanEnd(*device), FBTime());
  EXPECT_EQ(take->LocalTimeSpan.Get(), spanBefore);

  const int layerSets = take->CurrentLayerSetCount();
  ASSERT_TRUE(fbhost::TransportRecord());
  EXPECT_TRUE(Access::SpanOpen(*device));
  EXPECT_EQ(take->CurrentLayerSetCount(), layerSets);
  ASSERT_TRUE(fbhost::TransportStop());
  EXPECT_FALSE(Access::SpanOpen(*device));
}

}  // namespace
}  // namespace orbel::device_testing
