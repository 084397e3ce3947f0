// A BVH recording as the capture server reads it for playback. A clip that
// parses must hold what its header promises (values for every channel of
// every frame, parents before children, a frame time within bounds), and
// its playback must answer frames laid out like its description, with
// finite values and unit rotations, for any frame number.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bvh.h"
#include "bvh_scene.h"
#include "fuzz_check.h"

namespace {

using orbel::fuzz::check;
namespace protocol = orbel::protocol;
namespace server = orbel::server;
namespace playback = orbel::server::playback;

bool finite(const double* v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

void checkClip(const playback::BvhClip& clip, const playback::BvhLimits& limits) {
  check(!clip.joints.empty() && clip.joints.size() <= limits.maxJoints,
        "a clip without joints or above the joint limit");
  check(clip.frameCount > 0, "a clip without frames");
  check(clip.values.size() == clip.frameCount * clip.channelsPerFrame,
        "a clip's values do not fill its frames");
  check(clip.frameTimeSeconds >= 0.0001 && clip.frameTimeSeconds <= 60,
        "a frame time outside its bounds");
  check(finite(clip.values.data(), clip.values.size()), "a clip holds a value that is not finite");
  std::size_t next = 0;
  for (std::size_t j = 0; j < clip.joints.size(); ++j) {
    const playback::BvhJoint& joint = clip.joints[j];
    check(joint.parent < static_cast<int>(j), "a joint comes before its parent");
    check(joint.parent >= 0 || joint.depth == 0, "a root below the top");
    check(joint.parent < 0 || joint.depth == clip.joints[joint.parent].depth + 1,
          "a joint at the wrong depth");
    check(joint.firstValue == next, "a joint's values are misplaced in the frame");
    check(finite(joint.offset.data(), 3), "an offset that is not finite");
    next += joint.channels.size();
  }
  check(next == clip.channelsPerFrame, "the joints' channels do not add up to a frame");
}

void checkFrame(const server::Scene& scene, std::uint64_t n) {
  const std::shared_ptr<const protocol::Description> description = scene.descriptionAt(n);
  check(description != nullptr, "a recording answers no description");
  protocol::Frame frame;
  scene.frameAt(n, frame);
  check(server::misfit(*description, frame).empty(),
        "a frame is laid out otherwise than its description");
  for (const protocol::SegmentSample& pose : frame.segments) {
    check(finite(pose.translation, 3) && finite(pose.rotation, 4), "a segment pose is not finite");
    const double norm =
        std::sqrt(pose.rotation[0] * pose.rotation[0] + pose.rotation[1] * pose.rotation[1] +
                  pose.rotation[2] * pose.rotation[2] + pose.rotation[3] * pose.rotation[3]);
    check(std::fabs(norm - 1.0) < 1e-6, "a segment rotation is not a unit quaternion");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Smaller limits than the server's keep each run fast; the checks that
  // enforce them are the same.
  playback::BvhLimits limits;
  limits.maxValues = 1u << 16;
  limits.maxJointFrames = 1u << 14;
  playback::BvhSubject subject;
  subject.name = "fuzz";
  std::string error;
  if (!playback::parseBvh(text, "fuzz.bvh", limits, subject.clip, error)) {
    check(error.rfind("fuzz.bvh", 0) == 0, "a refusal that does not name the file");
    return 0;
  }
  checkClip(subject.clip, limits);
  std::vector<playback::BvhSubject> subjects;
  subjects.push_back(std::move(subject));
  const std::unique_ptr<server::Scene> scene = playback::makeBvhScene(std::move(subjects), error);
  check(scene != nullptr, "one recording cannot be played");
  const double fps = scene->framesPerSecond();
  check(std::isfinite(fps) && fps > 0, "a recording plays at a rate that is not positive");
  const std::uint64_t frames[] = {0, 1, 2, 7, 1000, (1ull << 53) - 1};
  for (std::uint64_t n : frames) checkFrame(*scene, n);
  return 0;
}
