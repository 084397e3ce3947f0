#include "test_scenes.h"

#include <gtest/gtest.h>

#include <thread>

namespace orbel::testing {

std::shared_ptr<const protocol::Description> FixedScene::makeDescription() {
  auto d = std::make_shared<protocol::Description>();
  protocol::SubjectInfo rig;
  rig.name = "Rig";
  rig.segments = {{"Root", ""}, {"Child", "Root"}};
  rig.markers = {"Tip"};
  d->subjects.push_back(rig);
  return d;
}

std::shared_ptr<const protocol::Description> FixedScene::descriptionAt(std::uint64_t) const {
  return description_;
}

void FixedScene::frameAt(std::uint64_t n, protocol::Frame& out) const {
  out.number = n;
  out.timecode = {};
  out.segmentCounts.assign(1, 2);
  out.segments.assign(2, {});
  protocol::SegmentSample& root = out.segments[0];
  root.translation[0] = 1;
  root.translation[1] = 2;
  root.translation[2] = 3;
  std::memcpy(root.rotation, kRootRotation, sizeof root.rotation);
  protocol::SegmentSample& child = out.segments[1];
  child.translation[0] = 0.5;
  child.translation[1] = -1;
  child.translation[2] = 2;
  out.markerCounts.assign(1, 1);
  out.markers.assign(1, {});
  out.markers[0].position[0] = 1;
  out.markers[0].position[1] = 2;
  out.markers[0].position[2] = 3;
  out.unlabeled.assign(4, {});
  const double points[4][3] = {{1, 2, 3}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  for (int u = 0; u < 4; ++u) std::memcpy(out.unlabeled[u].position, points[u], sizeof points[u]);
}

bool waitUntil(const std::function<bool()>& predicate, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  for (;;) {
    if (predicate()) return true;
    if (std::chrono::steady_clock::now() > end) return predicate();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool takeFrame(sdk::Client& client, std::chrono::milliseconds deadline) {
  return waitUntil([&] { return client.GetFrame().Result == sdk::Result::Success; }, deadline);
}

}  // namespace orbel::testing
