#include "synthetic_scene.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>

namespace orbel::server {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Quat {
  double x = 0, y = 0, z = 0, w = 1;
};

Quat multiply(const Quat& a, const Quat& b) {
  return {
      a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y, a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
      a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w, a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

void rotate(const Quat& q, const double v[3], double out[3]) {
  // v + 2w(u x v) + 2u x (u x v), with u the quaternion's vector part.
  const double tx = 2 * (q.y * v[2] - q.z * v[1]);
  const double ty = 2 * (q.z * v[0] - q.x * v[2]);
  const double tz = 2 * (q.x * v[1] - q.y * v[0]);
  out[0] = v[0] + q.w * tx + (q.y * tz - q.z * ty);
  out[1] = v[1] + q.w * ty + (q.z * tx - q.x * tz);
  out[2] = v[2] + q.w * tz + (q.x * ty - q.y * tx);
}

Quat axisAngle(const double axis[3], double angle) {
  const double s = std::sin(angle / 2);
  return {axis[0] * s, axis[1] * s, axis[2] * s, std::cos(angle / 2)};
}

struct BaseSegment {
  const char* name;
  int parent;
  double offset[3];
  double axis[3];
  double amplitude;
};

// A humanoid in the server's Z-up frame, facing +Y, parents before children
// so that any prefix is still a valid skeleton.
constexpr BaseSegment kHumanoid[] = {
    {"Hips", -1, {0, 0, 0}, {0, 0, 1}, 0.10},
    {"Spine", 0, {0, 0, 100}, {1, 0, 0}, 0.08},
    {"Spine1", 1, {0, 0, 120}, {0, 0, 1}, 0.10},
    {"Spine2", 2, {0, 0, 120}, {0, 1, 0}, 0.06},
    {"Neck", 3, {0, 0, 150}, {1, 0, 0}, 0.10},
    {"Head", 4, {0, 0, 100}, {0, 0, 1}, 0.30},
    {"LeftShoulder", 3, {40, 0, 120}, {0, 1, 0}, 0.10},
    {"LeftArm", 6, {130, 0, 0}, {0, 1, 0}, 0.50},
    {"LeftForeArm", 7, {280, 0, 0}, {0, 0, 1}, 0.60},
    {"LeftHand", 8, {250, 0, 0}, {1, 0, 0}, 0.30},
    {"RightShoulder", 3, {-40, 0, 120}, {0, 1, 0}, 0.10},
    {"RightArm", 10, {-130, 0, 0}, {0, 1, 0}, 0.50},
    {"RightForeArm", 11, {-280, 0, 0}, {0, 0, 1}, 0.60},
    {"RightHand", 12, {-250, 0, 0}, {1, 0, 0}, 0.30},
    {"LeftUpLeg", 0, {90, 0, -60}, {1, 0, 0}, 0.45},
    {"LeftLeg", 14, {0, 0, -420}, {1, 0, 0}, 0.60},
    {"LeftFoot", 15, {0, 0, -400}, {1, 0, 0}, 0.25},
    {"RightUpLeg", 0, {-90, 0, -60}, {1, 0, 0}, 0.45},
    {"RightLeg", 17, {0, 0, -420}, {1, 0, 0}, 0.60},
    {"RightFoot", 18, {0, 0, -400}, {1, 0, 0}, 0.25},
    {"LeftToeBase", 16, {0, 120, -60}, {1, 0, 0}, 0.20},
    {"RightToeBase", 19, {0, 120, -60}, {1, 0, 0}, 0.20},
};
constexpr std::uint32_t kHumanoidSegments = sizeof kHumanoid / sizeof kHumanoid[0];
constexpr int kLeftHand = 9;
constexpr int kRightHand = 13;

constexpr double kHipsHeight = 950;
constexpr double kWalkRadius = 1500;
constexpr double kSubjectSpacing = 3500;
constexpr double kWalkSpeed = 0.25;  // radians of the circle per second
constexpr double kGaitHz = 0.9;

std::string segmentName(std::uint32_t k) {
  if (k < kHumanoidSegments) return kHumanoid[k].name;
  // Extra segments: chains of three finger links, alternating hands.
  const std::uint32_t extra = k - kHumanoidSegments;
  const std::uint32_t chain = extra / 3;
  const char* side = chain % 2 == 0 ? "Left" : "Right";
  return std::string(side) + "Finger" + std::to_string(chain / 2 + 1) + "_" +
         std::to_string(extra % 3 + 1);
}

}  // namespace

bool SyntheticSceneConfig::preset(const std::string& name, SyntheticSceneConfig& out) {
  SyntheticSceneConfig c;
  if (name == "default") {
    // The defaults above.
  } else if (name == "small") {
    c.subjects = 2;
    c.segmentsPerSubject = 20;
    c.markersPerSubject = 40;
    c.unlabeled = 100;
  } else if (name == "stage") {
    c.subjects = 10;
    c.segmentsPerSubject = 60;
    c.markersPerSubject = 60;
    c.unlabeled = 1000;
  } else if (name == "stage4x") {
    // Four stages at once: how per-frame costs grow with the scene.
    c.subjects = 40;
    c.segmentsPerSubject = 60;
    c.markersPerSubject = 60;
    c.unlabeled = 4000;
  } else {
    return false;
  }
  c.framesPerSecond = out.framesPerSecond;
  out = c;
  return true;
}

std::string SyntheticSceneConfig::validate() const {
  // Bounds that keep a frame within what the wire carries.
  if (subjects < 1 || subjects > 1000) {
    return "subject count " + std::to_string(subjects) + " is not between 1 and 1000";
  }
  if (segmentsPerSubject < 1 || segmentsPerSubject > 1000) {
    return "segment count " + std::to_string(segmentsPerSubject) + " is not between 1 and 1000";
  }
  if (markersPerSubject > 1000) {
    return "marker count " + std::to_string(markersPerSubject) + " is above 1000";
  }
  if (std::uint64_t{subjects} * segmentsPerSubject > 65536 ||
      std::uint64_t{subjects} * markersPerSubject > 65536) {
    return "the scene has more than 65536 segments or markers in all";
  }
  if (unlabeled > 65536) {
    return "unlabelled marker count " + std::to_string(unlabeled) + " is above 65536";
  }
  if (!std::isfinite(framesPerSecond) || framesPerSecond <= 0) {
    return "frame rate " + std::to_string(framesPerSecond) + " is not above 0";
  }
  return {};
}

SyntheticScene::SyntheticScene(const SyntheticSceneConfig& config) : config_(config) {
  assert(config.validate().empty() && "validate the configuration before building the scene");
  const std::uint32_t segments = config.segmentsPerSubject;
  skeleton_.resize(segments);
  for (std::uint32_t k = 0; k < segments; ++k) {
    SegmentModel& m = skeleton_[k];
    if (k < kHumanoidSegments) {
      const BaseSegment& b = kHumanoid[k];
      m.parent = b.parent;
      std::copy(std::begin(b.offset), std::end(b.offset), m.offset);
      std::copy(std::begin(b.axis), std::end(b.axis), m.axis);
      m.amplitude = b.amplitude;
    } else {
      const std::uint32_t extra = k - kHumanoidSegments;
      const std::uint32_t chain = extra / 3;
      const bool left = chain % 2 == 0;
      const double side = left ? 1 : -1;
      // Hands may have been trimmed away in tiny skeletons; fall back on the root.
      const int hand = left ? kLeftHand : kRightHand;
      if (extra % 3 == 0) {
        m.parent = hand < static_cast<int>(segments) ? hand : 0;
        m.offset[0] = side * 60;
        m.offset[1] = 12.0 * (static_cast<double>(chain / 2 % 5) - 2);
      } else {
        m.parent = static_cast<int>(k) - 1;
        m.offset[0] = side * 30;
      }
      m.axis[0] = 0;
      m.axis[1] = 1;
      m.axis[2] = 0;
      m.amplitude = 0.4;
    }
    m.frequency = kGaitHz * (k % 3 == 0 ? 1.0 : 2.0);
    m.phase = 0.7 * k;
  }
  markers_.resize(config.markersPerSubject);
  for (std::uint32_t k = 0; k < config.markersPerSubject; ++k) {
    MarkerModel& m = markers_[k];
    m.segment = k % segments;
    const std::uint32_t round = k / segments;
    m.offset[0] = (round % 2 == 0 ? 1 : -1) * 35.0;
    m.offset[1] = 25.0 * static_cast<double>(round % 3);
    m.offset[2] = 10.0 * static_cast<double>(round / 3);
  }

  auto full = std::make_shared<protocol::Description>();
  for (std::uint32_t s = 0; s < config.subjects; ++s) {
    protocol::SubjectInfo subject;
    subject.name = "Actor" + std::to_string(s + 1);
    for (std::uint32_t k = 0; k < segments; ++k) {
      const int parent = skeleton_[k].parent;
      subject.segments.push_back(
          {segmentName(k),
           parent < 0 ? std::string() : segmentName(static_cast<std::uint32_t>(parent))});
    }
    std::vector<std::uint32_t> perSegment(segments, 0);
    for (const MarkerModel& m : markers_) {
      subject.markers.push_back(segmentName(m.segment) + "_M" +
                                std::to_string(++perSegment[m.segment]));
    }
    full->subjects.push_back(std::move(subject));
  }
  auto reduced = std::make_shared<protocol::Description>(*full);
  if (reduced->subjects.size() >= 2) reduced->subjects.pop_back();
  full_ = std::move(full);
  reduced_ = std::move(reduced);
}

void SyntheticScene::noteFrame(std::uint64_t n) const {
  std::uint64_t seen = latestAsked_.load(std::memory_order_relaxed);
  while (n > seen && !latestAsked_.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
  }
}

bool SyntheticScene::switchedAt(std::uint64_t n) const {
  std::lock_guard<std::mutex> lock(switchMutex_);
  const auto upTo = std::upper_bound(switchFrames_.begin(), switchFrames_.end(), n);
  return (upTo - switchFrames_.begin()) % 2 == 1;
}

void SyntheticScene::requestSwitch() {
  // Frames already asked for keep their description, so the server never
  // sees a frame laid out differently from the description it fetched.
  std::lock_guard<std::mutex> lock(switchMutex_);
  std::uint64_t at = latestAsked_.load(std::memory_order_relaxed) + 1;
  if (!switchFrames_.empty()) at = std::max(at, switchFrames_.back() + 1);
  switchFrames_.push_back(at);
}

std::shared_ptr<const protocol::Description> SyntheticScene::descriptionAt(std::uint64_t n) const {
  noteFrame(n);
  return switchedAt(n) ? reduced_ : full_;
}

void SyntheticScene::frameAt(std::uint64_t n, protocol::Frame& out) const {
  noteFrame(n);
  const protocol::Description& description = *(switchedAt(n) ? reduced_ : full_);
  const double t = static_cast<double>(n) / config_.framesPerSecond;
  const std::size_t subjects = description.subjects.size();
  const std::size_t segments = skeleton_.size();

  out.number = n;
  out.timecode = protocol::TimecodeValue();
  out.segmentCounts.assign(subjects, static_cast<std::uint32_t>(segments));
  out.segments.resize(subjects * segments);
  out.markerCounts.assign(subjects, static_cast<std::uint32_t>(markers_.size()));
  out.markers.resize(subjects * markers_.size());

  // Scratch for forward kinematics; thread_local so concurrent callers do
  // not share it and a steady stream does not allocate.
  thread_local std::vector<Quat> worldRotation;
  thread_local std::vector<std::array<double, 3>> worldPosition;
  worldRotation.resize(segments);
  worldPosition.resize(segments);

  for (std::size_t s = 0; s < subjects; ++s) {
    const double subjectPhase = 1.3 * static_cast<double>(s);
    protocol::SegmentSample* poses = out.segments.data() + s * segments;
    for (std::size_t k = 0; k < segments; ++k) {
      const SegmentModel& m = skeleton_[k];
      protocol::SegmentSample& pose = poses[k];
      pose.occluded = false;
      Quat local;
      if (m.parent < 0) {
        // The root walks a circle around the subject's own spot.
        const double heading = kWalkSpeed * t + subjectPhase;
        pose.translation[0] =
            kSubjectSpacing * static_cast<double>(s) + kWalkRadius * std::cos(heading);
        pose.translation[1] = kWalkRadius * std::sin(heading);
        pose.translation[2] = kHipsHeight + 20 * std::sin(2 * kPi * 2 * kGaitHz * t);
        const double up[3] = {0, 0, 1};
        const Quat facing = axisAngle(up, heading + kPi);
        const Quat sway = axisAngle(m.axis, m.amplitude * std::sin(2 * kPi * m.frequency * t));
        local = multiply(facing, sway);
      } else {
        std::copy(std::begin(m.offset), std::end(m.offset), pose.translation);
        local = axisAngle(
            m.axis, m.amplitude * std::sin(2 * kPi * m.frequency * t + m.phase + subjectPhase));
      }
      pose.rotation[0] = local.x;
      pose.rotation[1] = local.y;
      pose.rotation[2] = local.z;
      pose.rotation[3] = local.w;

      if (m.parent < 0) {
        worldRotation[k] = local;
        std::copy(std::begin(pose.translation), std::end(pose.translation),
                  worldPosition[k].begin());
      } else {
        const std::size_t p = static_cast<std::size_t>(m.parent);
        double moved[3];
        rotate(worldRotation[p], pose.translation, moved);
        for (int i = 0; i < 3; ++i) worldPosition[k][i] = worldPosition[p][i] + moved[i];
        worldRotation[k] = multiply(worldRotation[p], local);
      }
    }

    protocol::MarkerSample* markers = out.markers.data() + s * markers_.size();
    for (std::size_t k = 0; k < markers_.size(); ++k) {
      const MarkerModel& m = markers_[k];
      double moved[3];
      rotate(worldRotation[m.segment], m.offset, moved);
      for (int i = 0; i < 3; ++i) markers[k].position[i] = worldPosition[m.segment][i] + moved[i];
      // Now and then a marker drops out for a few frames, as real ones do.
      markers[k].occluded = (n + 97 * k + 31 * s) % 997 < 5;
    }
  }

  out.unlabeled.resize(config_.unlabeled);
  for (std::size_t u = 0; u < out.unlabeled.size(); ++u) {
    const double ud = static_cast<double>(u);
    protocol::UnlabeledSample& p = out.unlabeled[u];
    p.position[0] = 1200 * std::cos(2.4 * ud) + 300 * std::sin(0.7 * t + ud);
    p.position[1] = 1200 * std::sin(2.4 * ud) + 300 * std::sin(0.5 * t + 2 * ud);
    p.position[2] = 200 + 150 * static_cast<double>(u % 7) + 100 * std::sin(0.9 * t + 3 * ud);
  }
}

}  // namespace orbel::server
