// Scenes read from files: BVH recordings played back in a loop, and JSON
// scene files that describe exact, hand-made scenes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scene.h"

namespace orbel::server {

// One subject per BVH file, named after the file's stem, looped. On failure
// answers null and sets error to a message that names the file, the line and
// what is wrong.
std::unique_ptr<Scene> loadBvhScene(const std::vector<std::string>& paths,
                                    std::string& error) noexcept;

// A JSON scene file (server/SCENES.md). On failure answers null and sets
// error to a message that names the file, the line or the JSON path, and what
// is wrong.
std::unique_ptr<Scene> loadSceneFile(const std::string& path, std::string& error) noexcept;

}  // namespace orbel::server
