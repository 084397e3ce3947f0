// A JSON scene file as the capture server reads it, then played: a scene
// that loads must answer a description and a frame laid out like it for any
// frame number, with finite values and a timecode label that exists.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "scene_file.h"

namespace {

using orbel::fuzz::check;
namespace protocol = orbel::protocol;
namespace server = orbel::server;

bool finite(const double* v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v[i])) return false;
  }
  return true;
}

void checkFrame(const server::Scene& scene, std::uint64_t n) {
  const std::shared_ptr<const protocol::Description> description = scene.descriptionAt(n);
  check(description != nullptr, "a loaded scene answers no description");
  protocol::Frame frame;
  scene.frameAt(n, frame);
  check(frame.number == n, "a frame carries another number");
  check(server::misfit(*description, frame).empty(),
        "a frame is laid out otherwise than its description");
  for (const protocol::SegmentSample& pose : frame.segments) {
    check(finite(pose.translation, 3), "a segment translation is not finite");
    check(finite(pose.rotation, 4), "a segment rotation is not finite");
    const double norm =
        std::sqrt(pose.rotation[0] * pose.rotation[0] + pose.rotation[1] * pose.rotation[1] +
                  pose.rotation[2] * pose.rotation[2] + pose.rotation[3] * pose.rotation[3]);
    check(std::fabs(norm - 1.0) < 1e-3, "a segment rotation is not a unit quaternion");
  }
  for (const protocol::MarkerSample& marker : frame.markers) {
    check(finite(marker.position, 3), "a marker position is not finite");
  }
  for (const protocol::UnlabeledSample& marker : frame.unlabeled) {
    check(finite(marker.position, 3), "an unlabelled marker position is not finite");
  }
  if (scene.providesTimecode()) {
    const protocol::TimecodeValue& tc = frame.timecode;
    check(tc.hours < 24 && tc.minutes < 60 && tc.seconds < 60,
          "a frame carries a timecode label that does not exist");
    // Labels per second of the standards the format knows.
    switch (tc.standard) {
      case 1:
        check(tc.frames < 25, "a PAL label past its 25 frames");
        break;
      case 2:
        check(tc.frames < 30, "an NTSC label past its 30 frames");
        break;
      case 3:
        check(tc.frames < 30, "a drop-frame label past its 30 frames");
        check(tc.seconds != 0 || tc.minutes % 10 == 0 || tc.frames >= 2,
              "a drop-frame label that the standard skips");
        break;
      case 4:
        check(tc.frames < 24, "a film label past its 24 frames");
        break;
      default:
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const std::unique_ptr<server::Scene> scene =
      server::playback::parseSceneText(text, "fuzz.json", error);
  if (scene == nullptr) {
    check(!error.empty(), "a refused scene without a reason");
    return 0;
  }
  const double fps = scene->framesPerSecond();
  check(fps > 0 && fps <= 10000, "a scene plays at a rate outside its limits");
  // The start, the first frames, a later cycle and the last frame number a
  // scene file can name; then the same after a switch request, as SIGHUP asks.
  const std::uint64_t frames[] = {0, 1, 2, 61, 1000, 123457, (1ull << 53) - 1};
  for (std::uint64_t n : frames) checkFrame(*scene, n);
  scene->requestSwitch();
  for (std::uint64_t n : frames) checkFrame(*scene, n);
  return 0;
}
