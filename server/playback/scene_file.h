// JSON scene files: exact, hand-made scenes (server/SCENES.md).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "scene.h"

namespace orbel::server::playback {

struct SceneFileLimits {
  std::size_t maxFileBytes = 64u << 20;
};

// Parses a scene from text; name stands for the file in error messages.
// Answers null and sets error on failure.
std::unique_ptr<Scene> parseSceneText(std::string_view text, const std::string& name,
                                      std::string& error);

}  // namespace orbel::server::playback
