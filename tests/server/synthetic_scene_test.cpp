// The synthetic scene checked from the outside: a valid skeleton, markers
// rigidly attached to their segments by forward kinematics recomputed here,
// smooth motion, determinism, and description switches that never leave a
// frame laid out differently from its description.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "frame_samples.h"
#include "synthetic_scene.h"

namespace orbel::server {
namespace {

using orbel_test::markerOf;
using orbel_test::segmentOf;
using protocol::Frame;

using Vec = std::array<double, 3>;
using Quat = std::array<double, 4>;  // x, y, z, w

Quat multiply(const Quat& a, const Quat& b) {
  return {a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
          a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
          a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
          a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

Vec rotate(const Quat& q, const Vec& v) {
  const Quat p = {v[0], v[1], v[2], 0};
  const Quat c = {-q[0], -q[1], -q[2], q[3]};
  const Quat r = multiply(multiply(q, p), c);
  return {r[0], r[1], r[2]};
}

Quat conjugate(const Quat& q) { return {-q[0], -q[1], -q[2], q[3]}; }

struct World {
  std::vector<Vec> position;
  std::vector<Quat> rotation;
};

// Forward kinematics from the frame's local poses and the description's
// parent names alone.
World forwardKinematics(const protocol::SubjectInfo& subject, const Frame& f, std::size_t s) {
  std::map<std::string, std::size_t> index;
  for (std::size_t k = 0; k < subject.segments.size(); ++k) index[subject.segments[k].name] = k;
  World w;
  w.position.resize(subject.segments.size());
  w.rotation.resize(subject.segments.size());
  for (std::size_t k = 0; k < subject.segments.size(); ++k) {
    const protocol::SegmentSample& pose = segmentOf(f, s, k);
    const Quat local = {pose.rotation[0], pose.rotation[1], pose.rotation[2], pose.rotation[3]};
    const Vec t = {pose.translation[0], pose.translation[1], pose.translation[2]};
    if (subject.segments[k].parent.empty()) {
      w.position[k] = t;
      w.rotation[k] = local;
    } else {
      const std::size_t p = index.at(subject.segments[k].parent);
      const Vec moved = rotate(w.rotation[p], t);
      for (int i = 0; i < 3; ++i) w.position[k][i] = w.position[p][i] + moved[i];
      w.rotation[k] = multiply(w.rotation[p], local);
    }
  }
  return w;
}

SyntheticSceneConfig sized(std::uint32_t subjects, std::uint32_t segments, std::uint32_t markers,
                           std::uint32_t unlabeled) {
  SyntheticSceneConfig c;
  c.subjects = subjects;
  c.segmentsPerSubject = segments;
  c.markersPerSubject = markers;
  c.unlabeled = unlabeled;
  return c;
}

}  // namespace

// Names a size in test listings, e.g. "2x22_44_markers_20_unlabeled".
void PrintTo(const SyntheticSceneConfig& c, std::ostream* os) {
  *os << c.subjects << "x" << c.segmentsPerSubject << "_" << c.markersPerSubject << "_markers_"
      << c.unlabeled << "_unlabeled";
}

namespace {

class SyntheticSizes : public ::testing::TestWithParam<SyntheticSceneConfig> {};

TEST_P(SyntheticSizes, SkeletonIsAValidHierarchyWithUniqueNames) {
  const SyntheticSceneConfig& config = GetParam();
  SyntheticScene scene(config);
  const auto d = scene.descriptionAt(0);
  ASSERT_EQ(d->subjects.size(), config.subjects);
  std::set<std::string> subjectNames;
  for (const protocol::SubjectInfo& s : d->subjects) {
    EXPECT_TRUE(subjectNames.insert(s.name).second) << s.name;
    ASSERT_EQ(s.segments.size(), config.segmentsPerSubject);
    ASSERT_EQ(s.markers.size(), config.markersPerSubject);
    std::set<std::string> seen;
    int roots = 0;
    for (const protocol::SegmentInfo& seg : s.segments) {
      // Parents come before their children, so the hierarchy has no cycle.
      if (seg.parent.empty()) {
        ++roots;
      } else {
        EXPECT_TRUE(seen.count(seg.parent)) << seg.name << " has parent " << seg.parent;
      }
      EXPECT_TRUE(seen.insert(seg.name).second) << "duplicate segment " << seg.name;
    }
    EXPECT_EQ(roots, 1);
    std::set<std::string> markers(s.markers.begin(), s.markers.end());
    EXPECT_EQ(markers.size(), s.markers.size()) << "duplicate marker names";
  }
  Frame f;
  scene.frameAt(17, f);
  EXPECT_EQ(f.unlabeled.size(), config.unlabeled);
}

TEST_P(SyntheticSizes, MarkersRideRigidlyOnTheirSegments) {
  const SyntheticSceneConfig& config = GetParam();
  if (config.markersPerSubject == 0) GTEST_SKIP();
  SyntheticScene scene(config);
  const auto d = scene.descriptionAt(0);
  // A marker named "<Segment>_M<k>" sits at a fixed place in its segment's
  // frame: the same local offset at every frame.
  std::vector<std::vector<Vec>> firstOffsets;
  for (std::uint64_t n : {0u, 37u, 500u, 12345u}) {
    Frame f;
    scene.frameAt(n, f);
    for (std::size_t s = 0; s < d->subjects.size(); ++s) {
      const protocol::SubjectInfo& subject = d->subjects[s];
      const World w = forwardKinematics(subject, f, s);
      if (firstOffsets.size() <= s) firstOffsets.emplace_back();
      for (std::size_t k = 0; k < subject.markers.size(); ++k) {
        const std::string& marker = subject.markers[k];
        const std::string segment = marker.substr(0, marker.rfind("_M"));
        std::size_t seg = 0;
        while (subject.segments[seg].name != segment) ++seg;
        Vec relative;
        for (int i = 0; i < 3; ++i)
          relative[i] = markerOf(f, s, k).position[i] - w.position[seg][i];
        const Vec local = rotate(conjugate(w.rotation[seg]), relative);
        if (firstOffsets[s].size() <= k) {
          firstOffsets[s].push_back(local);
        } else {
          for (int i = 0; i < 3; ++i) EXPECT_NEAR(local[i], firstOffsets[s][k][i], 1e-6) << marker;
        }
      }
    }
  }
}

TEST_P(SyntheticSizes, MotionIsSmoothAndRotationsAreUnit) {
  SyntheticSceneConfig config = GetParam();
  config.framesPerSecond = 120;
  SyntheticScene scene(config);
  Frame a;
  Frame b;
  for (std::uint64_t n = 0; n < 240; n += 7) {
    scene.frameAt(n, a);
    scene.frameAt(n + 1, b);
    for (std::size_t s = 0; s < a.segmentCounts.size(); ++s) {
      for (std::size_t k = 0; k < a.segmentCounts[s]; ++k) {
        const protocol::SegmentSample& p = segmentOf(a, s, k);
        const protocol::SegmentSample& q = segmentOf(b, s, k);
        const double norm = p.rotation[0] * p.rotation[0] + p.rotation[1] * p.rotation[1] +
                            p.rotation[2] * p.rotation[2] + p.rotation[3] * p.rotation[3];
        EXPECT_NEAR(norm, 1, 1e-12);
        // A 120th of a second: a few millimetres, a small fraction of a radian.
        for (int i = 0; i < 3; ++i) EXPECT_LT(std::abs(p.translation[i] - q.translation[i]), 20);
        const double dot = std::abs(p.rotation[0] * q.rotation[0] + p.rotation[1] * q.rotation[1] +
                                    p.rotation[2] * q.rotation[2] + p.rotation[3] * q.rotation[3]);
        EXPECT_GT(dot, std::cos(0.05));
      }
    }
    for (std::size_t u = 0; u < a.unlabeled.size(); ++u) {
      for (int i = 0; i < 3; ++i) {
        EXPECT_LT(std::abs(a.unlabeled[u].position[i] - b.unlabeled[u].position[i]), 20);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SyntheticSizes,
                         ::testing::Values(sized(2, 22, 44, 20), sized(2, 20, 40, 100),
                                           sized(1, 1, 3, 0), sized(3, 15, 0, 1),
                                           sized(2, 23, 23, 5), sized(10, 60, 60, 1000),
                                           sized(1, 100, 7, 2)),
                         [](const auto& info) {
                           std::ostringstream name;
                           PrintTo(info.param, &name);
                           return name.str();
                         });

TEST(SyntheticScene, SameFrameNumberGivesTheSameBitsInAnyOrder) {
  SyntheticSceneConfig config;
  SyntheticScene one(config);
  SyntheticScene two(config);
  Frame a;
  Frame b;
  one.frameAt(900, a);
  two.frameAt(3, b);
  two.frameAt(900, b);
  ASSERT_EQ(a.segments.size(), b.segments.size());
  ASSERT_EQ(a.markers.size(), b.markers.size());
  for (std::size_t k = 0; k < a.segments.size(); ++k) {
    EXPECT_EQ(std::memcmp(&a.segments[k], &b.segments[k], sizeof(double) * 7), 0);
  }
  for (std::size_t k = 0; k < a.markers.size(); ++k) {
    EXPECT_EQ(std::memcmp(a.markers[k].position, b.markers[k].position, 24), 0);
  }
}

TEST(SyntheticScene, SwitchTakesEffectAfterTheFramesAlreadyServed) {
  SyntheticScene scene(SyntheticSceneConfig{});
  const auto before = scene.descriptionAt(10);
  Frame f;
  scene.frameAt(10, f);
  scene.requestSwitch();
  // Frame 10 was served with the full description and keeps it.
  EXPECT_EQ(scene.descriptionAt(10), before);
  const auto after = scene.descriptionAt(11);
  ASSERT_NE(after, before);
  EXPECT_EQ(after->subjects.size(), before->subjects.size() - 1);
  scene.frameAt(11, f);
  EXPECT_EQ(misfit(*after, f), "");
  // The same description object for as long as it holds.
  EXPECT_EQ(scene.descriptionAt(50), after);
  scene.requestSwitch();
  EXPECT_EQ(scene.descriptionAt(51), before);
}

TEST(SyntheticScene, PresetsAndBadSizes) {
  SyntheticSceneConfig c;
  ASSERT_TRUE(SyntheticSceneConfig::preset("stage", c));
  EXPECT_EQ(c.subjects * c.segmentsPerSubject, 600u);
  EXPECT_EQ(c.subjects * c.markersPerSubject, 600u);
  EXPECT_EQ(c.unlabeled, 1000u);
  EXPECT_FALSE(SyntheticSceneConfig::preset("huge", c));

  struct Bad {
    SyntheticSceneConfig config;
    const char* errorHas;
  };
  SyntheticSceneConfig zeroFps;
  zeroFps.framesPerSecond = 0;
  SyntheticSceneConfig nanFps;
  nanFps.framesPerSecond = std::nan("");
  const Bad bad[] = {
      {sized(0, 22, 0, 0), "subject count 0"},
      {sized(2, 0, 0, 0), "segment count 0"},
      {sized(2, 22, 1001, 0), "marker count 1001"},
      {sized(100, 1000, 0, 0), "more than 65536"},
      {sized(2, 22, 0, 70000), "unlabelled marker count 70000"},
      {zeroFps, "frame rate"},
      {nanFps, "frame rate"},
  };
  for (const Bad& b : bad) {
    const std::string error = b.config.validate();
    EXPECT_NE(error.find(b.errorHas), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace orbel::server
