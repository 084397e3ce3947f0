// The capture server's command line, parsed into plain settings so that it
// can be tested without starting anything.
#pragma once

#include <string>
#include <vector>

#include "capture_server.h"
#include "synthetic_scene.h"

namespace orbel::server {

struct CommandLine {
  ServerConfig server;
  SyntheticSceneConfig synthetic;
  std::vector<std::string> bvhFiles;  // --bvh: play these back instead
  std::string sceneFile;              // --scene: serve this scene file instead
  bool help = false;
};

// Parses argv[1..]; on failure answers false and sets error to a message
// that quotes the offending argument.
bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error);

std::string usageText();

}  // namespace orbel::server
