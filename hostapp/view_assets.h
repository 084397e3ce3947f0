// The live view's page and script, built into the program from
// hostapp/view/ (cmake/OrbelEmbed.cmake writes their definitions), so the
// view works wherever the program runs.
#pragma once

#include <vector>

namespace orbel::hostapp {

struct ViewAsset {
  const char* url;
  const char* type;
  const char* body;
};

const std::vector<ViewAsset>& ViewAssets();

}  // namespace orbel::hostapp
