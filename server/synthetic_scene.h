// The built-in scene: humanoid subjects walking in circles, with labelled
// markers on their segments and unlabelled markers drifting around them.
//
// Everything is a pure function of the frame number, so a test can compute
// exactly what the server sent for any frame. Lengths are in millimetres.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "scene.h"

namespace orbel::server {

struct SyntheticSceneConfig {
  std::uint32_t subjects = 2;
  std::uint32_t segmentsPerSubject = 22;  // a full humanoid; more adds finger chains
  std::uint32_t markersPerSubject = 44;   // spread over the segments in turn
  std::uint32_t unlabeled = 20;
  double framesPerSecond = 120;

  // The named sizes: "default", "small" (2 x 20 segments, 40 markers each,
  // 100 unlabelled), "stage" (10 x 60 segments, 60 markers each, 1000
  // unlabelled) and "stage4x" (40 x 60 segments, 60 markers each, 4000
  // unlabelled). Answers false for any other name.
  static bool preset(const std::string& name, SyntheticSceneConfig& out);

  // Empty when usable, else what is wrong, quoting the value.
  std::string validate() const;
};

class SyntheticScene final : public Scene {
 public:
  explicit SyntheticScene(const SyntheticSceneConfig& config);

  double framesPerSecond() const override { return config_.framesPerSecond; }
  std::shared_ptr<const protocol::Description> descriptionAt(std::uint64_t n) const override;
  void frameAt(std::uint64_t n, protocol::Frame& out) const override;
  // Alternates with a description that lacks the last subject (with two or
  // more subjects), from the frame after the latest one asked for.
  void requestSwitch() override;

 private:
  struct SegmentModel {
    int parent = -1;  // index in the subject, -1 for the root
    double offset[3] = {0, 0, 0};
    double axis[3] = {0, 0, 1};  // unit axis of its swing
    double amplitude = 0;        // radians
    double frequency = 1;        // hertz
    double phase = 0;
  };
  struct MarkerModel {
    std::uint32_t segment = 0;
    double offset[3] = {0, 0, 0};  // in the segment's frame
  };

  bool switchedAt(std::uint64_t n) const;
  void noteFrame(std::uint64_t n) const;

  SyntheticSceneConfig config_;
  std::vector<SegmentModel> skeleton_;
  std::vector<MarkerModel> markers_;
  std::shared_ptr<const protocol::Description> full_;
  std::shared_ptr<const protocol::Description> reduced_;

  mutable std::atomic<std::uint64_t> latestAsked_{0};
  mutable std::mutex switchMutex_;
  std::vector<std::uint64_t> switchFrames_;  // ascending; each toggles the description
};

}  // namespace orbel::server
