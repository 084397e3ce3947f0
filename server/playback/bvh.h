// A strict reader for BVH motion files: a joint hierarchy (each joint with its
// own channel list, in any order and any subset of the six channels) and the
// frames of channel values that drive it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rotation.h"

namespace orbel::server::playback {

enum class BvhChannel : std::uint8_t {
  XPosition,
  YPosition,
  ZPosition,
  XRotation,
  YRotation,
  ZRotation,
};

// The channel's name as a file writes it ("Xposition", "Zrotation").
const char* bvhChannelName(BvhChannel channel);

struct BvhJoint {
  std::string name;
  int parent = -1;  // index into BvhClip::joints; -1 for a ROOT
  Vec3 offset = {0, 0, 0};
  std::vector<BvhChannel> channels;  // in the file's order
  std::size_t firstValue = 0;        // index of channels[0] within a frame's values
  int depth = 0;                     // 0 for a ROOT
};

struct BvhClip {
  std::vector<BvhJoint> joints;  // parents before children, in file order
  std::size_t endSites = 0;
  std::size_t channelsPerFrame = 0;
  std::size_t frameCount = 0;
  double frameTimeSeconds = 0;
  std::vector<double> values;  // frameCount * channelsPerFrame, frame by frame

  const double* frame(std::size_t n) const { return values.data() + n * channelsPerFrame; }
  // Frames per second from Frame Time. Files store Frame Time rounded
  // (".0083333" for 120 fps), so a rate within 0.01% of a whole number is
  // taken as that whole number.
  double framesPerSecond() const;
};

// Bounds that keep a hostile file from making the reader allocate without
// limit. The defaults are far above any real recording.
struct BvhLimits {
  std::size_t maxFileBytes = 256u << 20;
  std::size_t maxJoints = 1024;
  std::size_t maxDepth = 256;
  std::size_t maxValues = 32u << 20;      // frames * channels
  std::size_t maxJointFrames = 4u << 20;  // frames * joints, what playback precomputes
};

// Parses text; name is used in error messages ("walk.bvh:412: expected 96
// values, found 95"). On failure answers false, sets error and leaves clip in
// an unspecified state.
bool parseBvh(std::string_view text, const std::string& name, const BvhLimits& limits,
              BvhClip& clip, std::string& error);

// Reads and parses the file at path.
bool readBvhFile(const std::string& path, const BvhLimits& limits, BvhClip& clip,
                 std::string& error);

}  // namespace orbel::server::playback
