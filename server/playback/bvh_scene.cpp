#include "bvh_scene.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <filesystem>
#include <unordered_set>

#include "playback/loaders.h"
#include "rotation.h"

namespace orbel::server::playback {

namespace {

constexpr int axisOf(BvhChannel c) {
  switch (c) {
    case BvhChannel::XPosition:
    case BvhChannel::XRotation:
      return 0;
    case BvhChannel::YPosition:
    case BvhChannel::YRotation:
      return 1;
    case BvhChannel::ZPosition:
    case BvhChannel::ZRotation:
      return 2;
  }
  return 0;
}

constexpr bool isRotation(BvhChannel c) {
  return c == BvhChannel::XRotation || c == BvhChannel::YRotation || c == BvhChannel::ZRotation;
}

// One recording, evaluated once at load: every frame's local poses and the
// world position of every joint, already in the served frame of reference.
struct Track {
  double framesPerSecond = 0;
  std::size_t frameCount = 0;
  std::size_t jointCount = 0;
  std::vector<protocol::SegmentSample> poses;   // frameCount * jointCount
  std::vector<protocol::MarkerSample> markers;  // frameCount * jointCount
};

Track evaluate(const BvhClip& clip) {
  Track track;
  track.framesPerSecond = clip.framesPerSecond();
  track.frameCount = clip.frameCount;
  track.jointCount = clip.joints.size();
  track.poses.resize(track.frameCount * track.jointCount);
  track.markers.resize(track.frameCount * track.jointCount);

  std::vector<Quat> worldRotation(track.jointCount);
  std::vector<Vec3> worldPosition(track.jointCount);
  for (std::size_t f = 0; f < clip.frameCount; ++f) {
    const double* values = clip.frame(f);
    for (std::size_t j = 0; j < track.jointCount; ++j) {
      const BvhJoint& joint = clip.joints[j];
      Vec3 translation = joint.offset;
      Quat rotation = kIdentityQuat;
      for (std::size_t c = 0; c < joint.channels.size(); ++c) {
        const BvhChannel channel = joint.channels[c];
        const double value = values[joint.firstValue + c];
        if (isRotation(channel)) {
          // Rotations compose intrinsically in the order the joint lists
          // them: "Zrotation Xrotation Yrotation" is Rz * Rx * Ry.
          rotation = multiply(rotation, axisRotation(axisOf(channel), value));
        } else {
          translation[static_cast<std::size_t>(axisOf(channel))] += value;
        }
      }
      if (joint.parent < 0) {
        worldRotation[j] = rotation;
        worldPosition[j] = translation;
      } else {
        const auto p = static_cast<std::size_t>(joint.parent);
        const Vec3 moved = rotate(worldRotation[p], translation);
        worldPosition[j] = {worldPosition[p][0] + moved[0], worldPosition[p][1] + moved[1],
                            worldPosition[p][2] + moved[2]};
        worldRotation[j] = multiply(worldRotation[p], rotation);
      }

      protocol::SegmentSample& pose = track.poses[f * track.jointCount + j];
      const Vec3 t = yUpToZUp(translation);
      const Quat q = yUpToZUp(rotation);
      std::copy(t.begin(), t.end(), pose.translation);
      std::copy(q.begin(), q.end(), pose.rotation);
      const Vec3 w = yUpToZUp(worldPosition[j]);
      std::copy(w.begin(), w.end(), track.markers[f * track.jointCount + j].position);
    }
  }
  return track;
}

class BvhScene final : public Scene {
 public:
  BvhScene(std::shared_ptr<const protocol::Description> description, std::vector<Track> tracks)
      : description_(std::move(description)), tracks_(std::move(tracks)) {
    assert(!tracks_.empty() && "a BVH scene has at least one recording");
    framesPerSecond_ = tracks_.front().framesPerSecond;
  }

  double framesPerSecond() const override { return framesPerSecond_; }

  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override {
    return description_;
  }

  void frameAt(std::uint64_t n, protocol::Frame& out) const override {
    out.number = n;
    out.timecode = protocol::TimecodeValue();
    out.unlabeled.clear();
    out.segmentCounts.clear();
    out.segments.clear();
    out.markerCounts.clear();
    out.markers.clear();
    for (const Track& track : tracks_) {
      const std::size_t f = frameIndex(track, n);
      const auto first = static_cast<std::ptrdiff_t>(f * track.jointCount);
      const auto count = static_cast<std::ptrdiff_t>(track.jointCount);
      out.segmentCounts.push_back(static_cast<std::uint32_t>(track.jointCount));
      out.segments.insert(out.segments.end(), track.poses.begin() + first,
                          track.poses.begin() + first + count);
      out.markerCounts.push_back(static_cast<std::uint32_t>(track.jointCount));
      out.markers.insert(out.markers.end(), track.markers.begin() + first,
                         track.markers.begin() + first + count);
    }
  }

 private:
  std::size_t frameIndex(const Track& track, std::uint64_t n) const {
    if (track.framesPerSecond == framesPerSecond_)
      return static_cast<std::size_t>(n % track.frameCount);
    // Another rate: the recording's frame at the scene frame's time, so that
    // every subject keeps its real speed.
    const long double t = static_cast<long double>(n) / framesPerSecond_;
    const long double f = std::floor(t * track.framesPerSecond);
    return static_cast<std::size_t>(std::fmod(f, static_cast<long double>(track.frameCount)));
  }

  std::shared_ptr<const protocol::Description> description_;
  std::vector<Track> tracks_;
  double framesPerSecond_ = 0;
};

}  // namespace

std::string bvhMarkerName(const std::string& jointName) { return jointName + "_M"; }

std::unique_ptr<Scene> makeBvhScene(std::vector<BvhSubject> subjects, std::string& error) {
  if (subjects.empty()) {
    error = "no BVH file given";
    return nullptr;
  }
  auto description = std::make_shared<protocol::Description>();
  std::vector<Track> tracks;
  std::unordered_set<std::string> subjectNames;
  for (const BvhSubject& subject : subjects) {
    if (!subjectNames.insert(subject.name).second) {
      error = "two BVH files give the subject name '" + subject.name +
              "'; clients find subjects by name, so each file needs its own";
      return nullptr;
    }
    protocol::SubjectInfo out;
    out.name = subject.name;
    std::unordered_set<std::string> taken;
    for (const BvhJoint& joint : subject.clip.joints) taken.insert(joint.name);
    for (const BvhJoint& joint : subject.clip.joints) {
      protocol::SegmentInfo segment;
      segment.name = joint.name;
      if (joint.parent >= 0)
        segment.parent = subject.clip.joints[static_cast<std::size_t>(joint.parent)].name;
      out.segments.push_back(std::move(segment));
      std::string marker = bvhMarkerName(joint.name);
      while (taken.count(marker) != 0) marker = bvhMarkerName(marker);
      taken.insert(marker);
      out.markers.push_back(std::move(marker));
    }
    description->subjects.push_back(std::move(out));
    tracks.push_back(evaluate(subject.clip));
  }
  return std::make_unique<BvhScene>(std::move(description), std::move(tracks));
}

}  // namespace orbel::server::playback

namespace orbel::server {

std::unique_ptr<Scene> loadBvhScene(const std::vector<std::string>& paths,
                                    std::string& error) noexcept {
  try {
    std::vector<playback::BvhSubject> subjects;
    for (const std::string& path : paths) {
      playback::BvhSubject subject;
      subject.name = std::filesystem::path(path).stem().string();
      if (!playback::readBvhFile(path, playback::BvhLimits(), subject.clip, error)) return nullptr;
      subjects.push_back(std::move(subject));
    }
    return playback::makeBvhScene(std::move(subjects), error);
  } catch (const std::exception& e) {
    error = std::string("cannot load the BVH files: ") + e.what();
    return nullptr;
  }
}

}  // namespace orbel::server
