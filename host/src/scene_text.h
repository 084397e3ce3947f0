// scene_text.h: the scene file's text form (host/SCENE_FORMAT.md): a
// document read whole and checked before anything is built from it, and
// the writer of the same form.
//
// Private to libfbsdk.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "fbhost/fieldstore.h"

namespace fbhost_internal {

struct SceneModelRecord {
  std::string kind;  // "Model", "Root", "Null", "Skeleton" or "Marker"
  std::string label;
  int parent = -1;  // index of an earlier model, or -1
  bool show = false;
  std::array<double, 3> color{{1.0, 1.0, 1.0}};
  int shading = 0;
  std::array<double, 3> translation{};
  std::array<double, 3> rotation{};
  int line = 0;  // where it was read (0 when not read from a file)
};

struct SceneDeviceRecord {
  std::string className;  // its entry in "FbxStorable/Device"
  std::string name;
  std::vector<fbhost::Field> fields;
  int line = 0;
};

struct SceneDocument {
  std::vector<SceneModelRecord> models;
  std::vector<SceneDeviceRecord> devices;
};

// The model kinds the format knows.
bool IsSceneModelKind(const std::string& kind);

// The text of a document.
std::string WriteSceneText(const SceneDocument& document);

// Reads a whole document. Answers false with *error naming `path` and the
// line, quoting what was found, when the text is not a scene file, is
// truncated, or holds a value of the wrong kind or count.
bool ParseSceneText(const std::string& text, const std::string& path, SceneDocument* document,
                    std::string* error);

}  // namespace fbhost_internal
