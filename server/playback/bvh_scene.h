// Playback of parsed BVH recordings as a scene: one subject per recording,
// each looping over its own frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bvh.h"
#include "scene.h"

namespace orbel::server::playback {

struct BvhSubject {
  std::string name;
  BvhClip clip;
};

// The labelled marker that rides on a joint. It never equals a segment name,
// because hosts name scene objects after both and would mix them up.
std::string bvhMarkerName(const std::string& jointName);

// Builds the scene; the first subject's rate is the scene's rate, and a
// subject recorded at another rate is sampled at the scene's frame times.
// Answers null and sets error when two subjects share a name.
std::unique_ptr<Scene> makeBvhScene(std::vector<BvhSubject> subjects, std::string& error);

}  // namespace orbel::server::playback
