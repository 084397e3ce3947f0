// BVH playback checked against an independent evaluation of the recordings
// (Eigen, rotation matrices and affine transforms), in the served Z-up frame.
#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "bvh_scene.h"
#include "frame_samples.h"
#include "playback/loaders.h"

namespace orbel::server::playback {
namespace {

using orbel_test::markerOf;
using orbel_test::segmentOf;
using protocol::Frame;

std::string mocapPath(const std::string& file) { return std::string(ORBEL_MOCAP_DIR) + "/" + file; }

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<double> motionLine(const std::string& text, std::size_t frame) {
  std::size_t pos = text.find("Frame Time:");
  pos = text.find('\n', pos) + 1;
  for (std::size_t i = 0; i < frame; ++i) pos = text.find('\n', pos) + 1;
  std::istringstream line(text.substr(pos, text.find('\n', pos) - pos));
  std::vector<double> values;
  for (std::string token; line >> token;) values.push_back(std::strtod(token.c_str(), nullptr));
  return values;
}

// Y-up file coordinates into the served Z-up frame: +90 degrees about X.
const Eigen::Matrix3d kToZUp =
    Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitX()).toRotationMatrix();

Eigen::Vector3d axis(char name) {
  return name == 'X'   ? Eigen::Vector3d::UnitX()
         : name == 'Y' ? Eigen::Vector3d::UnitY()
                       : Eigen::Vector3d::UnitZ();
}

struct Recording {
  const char* file;
  bool armsRotateZXY;  // the 12 arm joints of walk and hop list Z, X, Y
  bool turnsPast180;   // a root angle beyond 180 degrees somewhere
};

std::ostream& operator<<(std::ostream& os, const Recording& r) { return os << r.file; }

const std::set<std::string> kArmJoints = {
    "LeftShoulder",  "LeftElbow",  "LeftWrist",  "lhand", "LFingers", "LThumb",
    "RightShoulder", "RightElbow", "RightWrist", "rhand", "RFingers", "RThumb"};

class PlaybackTest : public ::testing::TestWithParam<Recording> {};

TEST_P(PlaybackTest, PosesAndMarkersMatchAnIndependentEvaluation) {
  const Recording& r = GetParam();
  const std::string path = mocapPath(r.file);
  const std::string text = readAll(path);
  BvhClip clip;
  std::string error;
  ASSERT_TRUE(readBvhFile(path, BvhLimits(), clip, error)) << error;
  std::unique_ptr<Scene> scene = loadBvhScene({path}, error);
  ASSERT_TRUE(scene) << error;

  // Sample the ends, the middle, and the frame whose root turns furthest
  // past 180 degrees.
  std::size_t widest = 0;
  double widestAngle = 0;
  for (std::size_t f = 0; f < clip.frameCount; ++f) {
    for (std::size_t c = 3; c < 6; ++c) {
      if (std::abs(clip.frame(f)[c]) > widestAngle) {
        widestAngle = std::abs(clip.frame(f)[c]);
        widest = f;
      }
    }
  }
  if (r.turnsPast180) {
    ASSERT_GT(widestAngle, 180.0);
  }

  Frame out;
  for (std::size_t f :
       {std::size_t{0}, std::size_t{1}, clip.frameCount / 2, widest, clip.frameCount - 1}) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const std::vector<double> values = motionLine(text, f);
    scene->frameAt(f, out);
    ASSERT_EQ(out.segmentCounts.size(), 1u);
    ASSERT_EQ(out.segments.size(), clip.joints.size());

    std::vector<Eigen::Affine3d> world(clip.joints.size());
    std::size_t next = 0;  // walks the line's values in joint order
    for (std::size_t j = 0; j < clip.joints.size(); ++j) {
      const BvhJoint& joint = clip.joints[j];
      SCOPED_TRACE(joint.name);
      Eigen::Vector3d translation(joint.offset[0], joint.offset[1], joint.offset[2]);
      if (j == 0) {
        translation += Eigen::Vector3d(values[0], values[1], values[2]);
        next = 3;
      }
      const std::string order = j == 0                                              ? "ZYX"
                                : (r.armsRotateZXY && kArmJoints.count(joint.name)) ? "ZXY"
                                                                                    : "ZYX";
      Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
      for (char a : order)
        rotation =
            rotation * Eigen::AngleAxisd(values[next++] * M_PI / 180, axis(a)).toRotationMatrix();

      Eigen::Affine3d local = Eigen::Affine3d::Identity();
      local.linear() = rotation;
      local.translation() = translation;
      world[j] = joint.parent < 0 ? local : world[static_cast<std::size_t>(joint.parent)] * local;

      const protocol::SegmentSample& pose = segmentOf(out, 0, j);
      const Eigen::Quaterniond served(pose.rotation[3], pose.rotation[0], pose.rotation[1],
                                      pose.rotation[2]);
      EXPECT_NEAR(served.norm(), 1.0, 1e-12);
      const Eigen::Matrix3d expected = kToZUp * rotation * kToZUp.transpose();
      EXPECT_LT((served.toRotationMatrix() - expected).cwiseAbs().maxCoeff(), 1e-12);
      const Eigen::Vector3d t = kToZUp * translation;
      EXPECT_NEAR(pose.translation[0], t.x(), 1e-12);
      EXPECT_NEAR(pose.translation[1], t.y(), 1e-12);
      EXPECT_NEAR(pose.translation[2], t.z(), 1e-12);

      const Eigen::Vector3d marker = kToZUp * world[j].translation();
      const protocol::MarkerSample& m = markerOf(out, 0, j);
      EXPECT_NEAR(m.position[0], marker.x(), 1e-9);
      EXPECT_NEAR(m.position[1], marker.y(), 1e-9);
      EXPECT_NEAR(m.position[2], marker.z(), 1e-9);
    }
    EXPECT_EQ(next, 96u);
  }
}

TEST_P(PlaybackTest, MappingBackToYUpGivesTheFilesRootPositionBitForBit) {
  // The client's Y-up mapping sends served (x, y, z) to (x, z, -y); the
  // root's offset is zero, so every frame must give the file's numbers.
  const std::string path = mocapPath(GetParam().file);
  const std::string text = readAll(path);
  std::string error;
  std::unique_ptr<Scene> scene = loadBvhScene({path}, error);
  ASSERT_TRUE(scene) << error;
  Frame out;
  for (std::size_t f = 0; f < 60; ++f) {
    const std::vector<double> values = motionLine(text, f);
    scene->frameAt(f, out);
    const double* t = segmentOf(out, 0, 0).translation;
    EXPECT_EQ(t[0], values[0]);
    EXPECT_EQ(t[2], values[1]);
    EXPECT_EQ(-t[1], values[2]);
  }
}

INSTANTIATE_TEST_SUITE_P(Mocap, PlaybackTest,
                         ::testing::Values(Recording{"walk.bvh", true, false},
                                           Recording{"hop.bvh", true, true},
                                           Recording{"run_short.bvh", false, true}),
                         [](const ::testing::TestParamInfo<Recording>& info) {
                           std::string name = info.param.file;
                           return name.substr(0, name.find('.'));
                         });

// Subject s of frame a against subject t of frame b.
bool sameFrameValues(const protocol::Frame& a, std::size_t s, const protocol::Frame& b,
                     std::size_t t) {
  if (a.segmentCounts.at(s) != b.segmentCounts.at(t)) return false;
  for (std::size_t i = 0; i < a.segmentCounts[s]; ++i) {
    const protocol::SegmentSample& p = segmentOf(a, s, i);
    const protocol::SegmentSample& q = segmentOf(b, t, i);
    if (std::memcmp(p.translation, q.translation, sizeof p.translation) != 0 ||
        std::memcmp(p.rotation, q.rotation, sizeof p.rotation) != 0) {
      return false;
    }
  }
  return true;
}

TEST(BvhSceneTest, EachFileIsASubjectWithJointsAsSegmentsAndOneMarkerPerJoint) {
  std::string error;
  std::unique_ptr<Scene> scene = loadBvhScene(
      {mocapPath("walk.bvh"), mocapPath("hop.bvh"), mocapPath("run_short.bvh")}, error);
  ASSERT_TRUE(scene) << error;
  EXPECT_EQ(scene->framesPerSecond(), 120.0);
  EXPECT_FALSE(scene->providesTimecode());
  const auto description = scene->descriptionAt(0);
  EXPECT_EQ(description, scene->descriptionAt(123456)) << "the description never changes";
  ASSERT_EQ(description->subjects.size(), 3u);
  const char* names[] = {"walk", "hop", "run_short"};
  for (std::size_t s = 0; s < 3; ++s) {
    const protocol::SubjectInfo& subject = description->subjects[s];
    SCOPED_TRACE(subject.name);
    EXPECT_EQ(subject.name, names[s]);
    ASSERT_EQ(subject.segments.size(), 31u);
    ASSERT_EQ(subject.markers.size(), 31u);
    EXPECT_EQ(subject.segments[0].name, "Hips");
    EXPECT_EQ(subject.segments[0].parent, "");
    std::set<std::string> segmentNames;
    for (const protocol::SegmentInfo& segment : subject.segments) {
      if (&segment != &subject.segments[0]) {
        EXPECT_EQ(segmentNames.count(segment.parent), 1u) << segment.name;
      }
      segmentNames.insert(segment.name);
    }
    for (std::size_t k = 0; k < 31; ++k) {
      EXPECT_EQ(subject.markers[k], subject.segments[k].name + "_M");
      EXPECT_EQ(segmentNames.count(subject.markers[k]), 0u);
    }
  }
  EXPECT_EQ(description->subjects[0].segments[2].name, "LeftHip");
  EXPECT_EQ(description->subjects[0].segments[2].parent, "LHipJoint");
  EXPECT_EQ(description->subjects[2].segments[2].name, "LeftUpLeg");
}

TEST(BvhSceneTest, EverySubjectLoopsOverItsOwnFrames) {
  std::string error;
  std::unique_ptr<Scene> both =
      loadBvhScene({mocapPath("walk.bvh"), mocapPath("run_short.bvh")}, error);
  ASSERT_TRUE(both) << error;
  std::unique_ptr<Scene> run = loadBvhScene({mocapPath("run_short.bvh")}, error);
  ASSERT_TRUE(run) << error;
  Frame a;
  Frame b;
  struct Row {
    std::uint64_t n;
    std::uint64_t same;
  };
  // run_short has 75 frames, walk 994.
  for (const Row& row :
       {Row{75, 0}, Row{76, 1}, Row{994 + 75 * 3, 994 + 75 * 3}, Row{10 * 994 + 5, 5}}) {
    SCOPED_TRACE(row.n);
    both->frameAt(row.n, a);
    EXPECT_EQ(a.number, row.n);
    run->frameAt(row.n % 75, b);
    EXPECT_TRUE(sameFrameValues(a, 1, b, 0));
    both->frameAt(row.n % 994, b);
    EXPECT_TRUE(sameFrameValues(a, 0, b, 0));
  }
  both->frameAt(0, a);
  both->frameAt(1, b);
  EXPECT_FALSE(sameFrameValues(a, 0, b, 0)) << "consecutive frames differ";
}

TEST(BvhSceneTest, FrameAtReusesTheCallersStorage) {
  std::string error;
  std::unique_ptr<Scene> scene = loadBvhScene({mocapPath("run_short.bvh")}, error);
  ASSERT_TRUE(scene) << error;
  Frame out;
  out.unlabeled.resize(4);  // left over from another scene: cleared
  out.timecode.standard = 2;
  scene->frameAt(0, out);
  EXPECT_TRUE(out.unlabeled.empty());
  EXPECT_EQ(out.timecode.standard, 0u);
  const protocol::SegmentSample* poses = out.segments.data();
  const protocol::MarkerSample* markers = out.markers.data();
  for (std::uint64_t n = 1; n < 200; ++n) scene->frameAt(n, out);
  EXPECT_EQ(out.segments.data(), poses);
  EXPECT_EQ(out.markers.data(), markers);
}

BvhClip tinyClip(double frameTime, std::size_t frames) {
  BvhClip clip;
  BvhJoint root;
  root.name = "Root";
  root.channels = {BvhChannel::XPosition};
  clip.joints.push_back(root);
  clip.channelsPerFrame = 1;
  clip.frameCount = frames;
  clip.frameTimeSeconds = frameTime;
  for (std::size_t f = 0; f < frames; ++f) clip.values.push_back(static_cast<double>(f));
  return clip;
}

TEST(BvhSceneTest, ASubjectAtAnotherRateKeepsItsOwnSpeed) {
  std::vector<BvhSubject> subjects;
  subjects.push_back({"fast", tinyClip(1.0 / 120, 4)});
  subjects.push_back({"slow", tinyClip(1.0 / 60, 3)});
  std::string error;
  std::unique_ptr<Scene> scene = makeBvhScene(std::move(subjects), error);
  ASSERT_TRUE(scene) << error;
  EXPECT_EQ(scene->framesPerSecond(), 120.0);
  Frame out;
  const double slowFrame[] = {0, 0, 1, 1, 2, 2, 0, 0, 1};
  for (std::uint64_t n = 0; n < 9; ++n) {
    scene->frameAt(n, out);
    EXPECT_EQ(segmentOf(out, 0, 0).translation[0], static_cast<double>(n % 4)) << n;
    EXPECT_EQ(segmentOf(out, 1, 0).translation[0], slowFrame[n]) << n;
  }
}

TEST(BvhSceneTest, AJointNamedLikeAMarkerPushesTheMarkerNameAside) {
  std::vector<BvhSubject> subjects;
  subjects.push_back({"s", tinyClip(0.01, 1)});
  BvhJoint other;
  other.name = "Root_M";
  other.parent = 0;
  subjects[0].clip.joints.push_back(other);
  std::string error;
  std::unique_ptr<Scene> scene = makeBvhScene(std::move(subjects), error);
  ASSERT_TRUE(scene) << error;
  const auto description = scene->descriptionAt(0);
  EXPECT_EQ(description->subjects[0].markers, (std::vector<std::string>{"Root_M_M", "Root_M_M_M"}));
}

TEST(BvhSceneTest, LoadFailuresNameTheFile) {
  const std::string dir = ::testing::TempDir();
  const std::string bad = dir + "/orbel_playback_bad.bvh";
  {
    std::ofstream out(bad, std::ios::binary);
    out << "HIERARCHY\nROOT A\n{\nOFFSET 0 0 0\nCHANNELS 1 Xposition\n}\nMOTION\nFrames: 2\n"
           "Frame Time: 0.01\n1\n2 3\n";
  }
  struct Row {
    std::vector<std::string> paths;
    std::string message;
  };
  const Row rows[] = {
      {{}, "no BVH file given"},
      {{mocapPath("nope.bvh")}, mocapPath("nope.bvh") + ": cannot open: No such file or directory"},
      {{mocapPath("run_short.bvh"), bad}, bad + ":11: expected 1 values, found 2"},
      {{mocapPath("run_short.bvh"), mocapPath("../mocap/run_short.bvh")},
       "two BVH files give the subject name 'run_short'; clients find subjects by name, so each "
       "file needs its own"},
  };
  for (const Row& row : rows) {
    std::string error;
    EXPECT_FALSE(loadBvhScene(row.paths, error));
    EXPECT_EQ(error, row.message);
  }
  std::remove(bad.c_str());
}

}  // namespace
}  // namespace orbel::server::playback
