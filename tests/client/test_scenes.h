// Shared pieces of the client tests: scenes with known values, the shared
// in-process server (running_server.h), and polling helpers.
#pragma once

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "OrbelDataStreamSDK/Client.h"
#include "capture_server.h"
#include "running_server.h"
#include "scene.h"

namespace orbel::testing {

namespace sdk = OrbelDataStreamSDK::CPP;

// One subject "Rig": a root at (1, 2, 3) turned by a fixed quaternion, a
// child offset by (0.5, -1, 2); a marker at (1, 2, 3); unlabelled markers
// at (1, 2, 3) and on the three axes.
class FixedScene : public server::Scene {
 public:
  static constexpr double kRootRotation[4] = {0.18257418583505536, 0.3651483716701107,
                                              0.5477225575051661, 0.7302967433402214};

  double framesPerSecond() const override { return 200; }
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t) const override;
  void frameAt(std::uint64_t n, protocol::Frame& out) const override;

 private:
  std::shared_ptr<const protocol::Description> description_ = makeDescription();
  static std::shared_ptr<const protocol::Description> makeDescription();
};

// Polls until the predicate holds or the deadline passes; answers the last
// result. Deadlines are generous: they guard against hangs, they do not
// measure speed.
bool waitUntil(const std::function<bool()>& predicate,
               std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Takes frames until one arrives; false if none does before the deadline.
bool takeFrame(sdk::Client& client, std::chrono::milliseconds deadline = std::chrono::seconds(10));

inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace orbel::testing
