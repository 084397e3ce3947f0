// A real recording played back by the server reaches the client exactly.
#include <gtest/gtest.h>

#include "frame_samples.h"
#include "playback/loaders.h"
#include "test_scenes.h"

namespace orbel::testing {
namespace {

namespace Result = sdk::Result;
using orbel_test::markerOf;
using orbel_test::segmentOf;

TEST(BvhThroughServer, RecordingArrivesBitForBit) {
  std::string error;
  std::shared_ptr<server::Scene> scene =
      server::loadBvhScene({std::string(ORBEL_MOCAP_DIR) + "/run_short.bvh"}, error);
  ASSERT_TRUE(scene) << error;
  RunningServer server(scene);
  sdk::Client c;
  ASSERT_EQ(c.Connect(server.address()).Result, Result::Success);
  ASSERT_EQ(c.EnableSegmentData().Result, Result::Success);
  ASSERT_EQ(c.EnableMarkerData().Result, Result::Success);
  for (int round = 0; round < 5; ++round) {
    ASSERT_TRUE(takeFrame(c));
    const std::uint64_t n = c.GetFrameNumber().FrameNumber;
    const auto description = scene->descriptionAt(n);
    protocol::Frame frame;
    scene->frameAt(n, frame);
    ASSERT_EQ(c.GetSubjectCount().SubjectCount, description->subjects.size());
    for (std::size_t s = 0; s < description->subjects.size(); ++s) {
      const auto& subject = description->subjects[s];
      ASSERT_EQ(std::string(c.GetSubjectName(static_cast<unsigned>(s)).SubjectName), subject.name);
      ASSERT_EQ(c.GetSegmentCount(subject.name).SegmentCount, subject.segments.size());
      for (std::size_t k = 0; k < subject.segments.size(); ++k) {
        const auto& seg = subject.segments[k];
        EXPECT_EQ(std::string(c.GetSegmentParentName(subject.name, seg.name).SegmentName),
                  seg.parent);
        const auto t = c.GetSegmentLocalTranslation(subject.name, seg.name);
        const auto r = c.GetSegmentLocalRotationQuaternion(subject.name, seg.name);
        for (int i = 0; i < 3; ++i) {
          EXPECT_TRUE(sameBits(t.Translation[i], segmentOf(frame, s, k).translation[i]));
        }
        for (int i = 0; i < 4; ++i) {
          EXPECT_TRUE(sameBits(r.Rotation[i], segmentOf(frame, s, k).rotation[i]));
        }
      }
      ASSERT_EQ(c.GetMarkerCount(subject.name).MarkerCount, subject.markers.size());
      for (std::size_t k = 0; k < subject.markers.size(); ++k) {
        const auto p = c.GetMarkerGlobalTranslation(subject.name, subject.markers[k]);
        for (int i = 0; i < 3; ++i) {
          EXPECT_TRUE(sameBits(p.Translation[i], markerOf(frame, s, k).position[i]));
        }
      }
    }
  }
}

}  // namespace
}  // namespace orbel::testing
