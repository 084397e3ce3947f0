// Live input and node evaluation through the host's input and evaluation
// passes, stepped by hand on a host clock that moves only when told.
#include <array>

#include <fbhost/clock.h>
#include <fbhost/engine.h>
#include <fbsdk/fbmodel.h>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

using Values = std::array<double, 3>;

Values Read(FBAnimationNode* node) {
  Values values{};
  node->ReadData(values.data());
  return values;
}

Values Scaled(const double* values, double scale) {
  return {values[0] * scale, values[1] * scale, values[2] * scale};
}

Values FromVector(const FBVector3<double>& v) { return {v[0], v[1], v[2]}; }

class LiveTest : public DeviceTest {
 protected:
  // A started, bound device serving pose.json, with every kind of data.
  OrbelSimpleDeviceOptical* BoundDevice(const char* scene = "pose.json") {
    Serve(scene);
    OrbelSimpleDeviceOptical* device = AddDevice();
    if (device == nullptr) return nullptr;
    device->SetStreamUnlabeledMarkers(true);
    device->SetUnlabeledMarkerCount(3);
    EXPECT_TRUE(GoOnline(device));
    EXPECT_TRUE(BindRoot(device));
    return device;
  }

  fbhost::ManualClock mClock{FBTime::FromMilliSeconds(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
};

TEST_F(LiveTest, SegmentPoseReachesItsNodesAndModel) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(TakeSample(mClock, device));
  ASSERT_EQ(fbhost::StepEvaluation(), 1);

  OrbelDataReader& reader = *Access::Reader(*device);
  const SegmentRecord& hips = reader.segments.at("Bob:Bob_Hips");
  FBAnimationNode* translation = Access::TranslationNodes(*device).at("Bob:Bob_Hips");
  FBAnimationNode* rotation = Access::RotationNodes(*device).at("Bob:Bob_Hips");

  // The server's (100, 50, 200), Z up, reads (100, 200, -50) Y up.
  const Values t = Read(translation);
  EXPECT_DOUBLE_EQ(t[0], 10.0);
  EXPECT_DOUBLE_EQ(t[1], 20.0);
  EXPECT_DOUBLE_EQ(t[2], -5.0);
  EXPECT_EQ(t, Scaled(hips.translation, 0.1));
  EXPECT_EQ(Read(rotation), Scaled(hips.rotation, 1.0));
  EXPECT_NE(Read(rotation), (Values{0, 0, 0}));

  // The host carries the nodes into the bound model: it really moves.
  FBModel* model = FBFindModelByLabelName("Bob:Bob_Hips");
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(FromVector(model->Translation.Get()), t);
  EXPECT_EQ(FromVector(model->Rotation.Get()), Read(rotation));

  const MarkerRecord& lfhd = reader.markers.at("Bob:Bob_LFHD");
  EXPECT_EQ(Read(Access::MarkerNodes(*device).at("Bob:Bob_LFHD")), Scaled(lfhd.position, 0.1));
  const MarkerRecord& unlabeled = reader.unlabeledMarkers.at("Unlabeled:1");
  EXPECT_EQ(Read(Access::MarkerNodes(*device).at("Unlabeled:1")), Scaled(unlabeled.position, 0.1));
  EXPECT_EQ(FromVector(FBFindModelByLabelName("Unlabeled:1")->Translation.Get()),
            Scaled(unlabeled.position, 0.1));
}

// Only actions 0 and 1 take samples in, and each sample taken in is
// acknowledged once.
TEST_F(LiveTest, InputActionsAndAcknowledgements) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(TakeSample(mClock, device));

  struct Row {
    int action;
    std::int64_t taken;
  };
  for (const Row& row : {Row{2, 0}, Row{-1, 0}, Row{0, 1}, Row{1, 1}}) {
    SCOPED_TRACE(row.action);
    const std::int64_t before = Acks(device);
    // A pass before the server's next frame takes nothing in: pass again.
    for (int pass = 0; pass < (row.taken > 0 ? 10000 : 1) && Acks(device) == before; ++pass) {
      if (pass > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      mClock.AdvanceMilliSeconds(12);
      ASSERT_TRUE(fbhost::NotifySampleInput(device, row.action));
    }
    EXPECT_EQ(Acks(device) - before, row.taken);
  }
  // While the host clock stands still the reader soon has no sample due,
  // and a pass then acknowledges nothing.
  for (int i = 0; i < 3; ++i) fbhost::NotifySampleInput(device, 0);
  const std::int64_t before = Acks(device);
  ASSERT_TRUE(fbhost::NotifySampleInput(device, 0));
  EXPECT_EQ(Acks(device), before);
}

TEST_F(LiveTest, PauseStopsSamplesButNotEvaluation) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  // Nodes are written once a sample has come in.
  ASSERT_TRUE(TakeSample(mClock, device));
  device->SetPaused(true);
  EXPECT_TRUE(device->Paused());
  const std::int64_t before = Acks(device);
  for (int i = 0; i < 5; ++i) InputPass(mClock);
  EXPECT_EQ(Acks(device), before);
  fbhost::StepEvaluation();
  EXPECT_TRUE(Access::TranslationNodes(*device).at("Bob:Bob_Hips")->IsWritten());

  device->SetPaused(false);
  EXPECT_TRUE(TakeSample(mClock, device));
}

TEST_F(LiveTest, NothingIsWrittenWithoutABoundModel) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(fbhost::UnbindTemplate(device, 0));
  EXPECT_FALSE(Access::ModelBound(*device));
  ASSERT_TRUE(TakeSample(mClock, device));
  fbhost::StepEvaluation();
  for (const auto* map : {&Access::TranslationNodes(*device), &Access::RotationNodes(*device),
                          &Access::MarkerNodes(*device)}) {
    for (const auto& entry : *map) EXPECT_FALSE(entry.second->IsWritten()) << entry.first;
  }
}

// Switching a kind of data off while live and bound zeroes its nodes and
// hides its models; the other kinds keep their values.
TEST_F(LiveTest, StreamOptionsOffZeroTheirNodes) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(TakeSample(mClock, device));
  fbhost::StepEvaluation();
  const Values zero{0, 0, 0};
  FBAnimationNode* hips = Access::TranslationNodes(*device).at("Bob:Bob_Hips");
  FBAnimationNode* spineRotation = Access::RotationNodes(*device).at("Bob:Bob_Spine");
  FBAnimationNode* lfhd = Access::MarkerNodes(*device).at("Bob:Bob_LFHD");
  FBAnimationNode* unlabeled = Access::MarkerNodes(*device).at("Unlabeled:0");
  const Values lfhdBefore = Read(lfhd);
  ASSERT_NE(Read(hips), zero);
  ASSERT_NE(Read(unlabeled), zero);

  device->SetStreamBones(false);
  EXPECT_EQ(Read(hips), zero);
  EXPECT_EQ(Read(spineRotation), zero);
  EXPECT_FALSE(FBFindModelByLabelName("Bob:Bob_Hips")->Show.Get());
  EXPECT_FALSE(FBFindModelByLabelName("Bob:Bob_Spine")->Show.Get());
  EXPECT_EQ(Read(lfhd), lfhdBefore);

  device->SetStreamUnlabeledMarkers(false);
  EXPECT_EQ(Read(unlabeled), zero);
  EXPECT_FALSE(FBFindModelByLabelName("Unlabeled:0")->Show.Get());
  EXPECT_TRUE(FBFindModelByLabelName("Bob:Bob_LFHD")->Show.Get());
  EXPECT_EQ(Read(lfhd), lfhdBefore);

  // Switching on again writes nothing until the next evaluation, and shows.
  device->SetStreamBones(true);
  EXPECT_EQ(Read(hips), zero);
  EXPECT_TRUE(FBFindModelByLabelName("Bob:Bob_Hips")->Show.Get());
}

TEST_F(LiveTest, TimecodeStampsTheReferenceTime) {
  Serve("timecode_pal.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetUseTimecode(true);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(TakeSample(mClock, device));

  const auto references = fbhost::ReferenceTimes();
  ASSERT_EQ(references.size(), 1u);
  EXPECT_GE(references[0].stampCount, 1);
  EXPECT_EQ(references[0].lastSystemTime, mClock.Now());
  const FBTimeCode& timecode = Access::Reader(*device)->timecode;
  EXPECT_EQ(timecode.GetRate(), FBTimeCode::PAL_25);
  EXPECT_GE(timecode.GetHours(), 10);
  EXPECT_EQ(references[0].lastReferenceTime, timecode.GetTime());
}

// Timecode switched on after a start has no reference time to stamp until
// the next start: nothing is stamped and nothing refused.
TEST_F(LiveTest, TimecodeSwitchedOnLaterStampsNothing) {
  Serve("timecode_pal.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GoOnline(device));
  device->SetUseTimecode(true);
  ASSERT_TRUE(TakeSample(mClock, device));
  ASSERT_TRUE(TakeSample(mClock, device));
  EXPECT_TRUE(fbhost::ReferenceTimes().empty());
  EXPECT_EQ(fbhost::RefusedReferenceTimeStamps(), 0);
}

}  // namespace
}  // namespace orbel::device_testing
