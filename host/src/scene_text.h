// scene_text.h: the scene file's text form (host/SCENE_FORMAT.md): a
// document read whole and checked before anything is built from it, and
// the writer of the same form.
//
// Private to libfbsdk.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "fbhost/fieldstore.h"
#include "fbsdk/fbtake.h"

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

// A device template bound to a model: the template is found from the
// device's top-level template at `topIndex`, then child by child through
// the (prefix, label name) pairs of `path`.
struct SceneBindingRecord {
  int model = -1;  // index in SceneDocument::models
  int topIndex = 0;
  std::vector<std::pair<std::string, std::string>> path;
};

struct SceneDeviceRecord {
  std::string className;  // its entry in "FbxStorable/Device"
  std::string name;
  std::vector<fbhost::Field> fields;
  std::vector<SceneBindingRecord> bindings;
  int line = 0;
};

struct SceneCurveRecord {
  std::string nodeName;
  std::string dataType;
  int layer = 0;
  std::vector<FBTakeKey> keys;  // strictly increasing times, finite values
};

struct SceneTakeRecord {
  std::string name;
  bool current = false;
  long long spanStart = 0;  // ticks
  long long spanStop = 0;
  int layers = 1;
  int currentLayer = 0;
  std::vector<FBTakeModel> models;
  std::vector<SceneCurveRecord> curves;
  int line = 0;
};

struct SceneDocument {
  std::vector<SceneModelRecord> models;
  std::vector<SceneDeviceRecord> devices;
  std::vector<SceneTakeRecord> takes;
};

// Told how far a long write or read has come: done out of total (keys
// written, or bytes read).
using SceneProgress = std::function<void(std::size_t done, std::size_t total)>;

// The model kinds the format knows.
bool IsSceneModelKind(const std::string& kind);

// The text of a document, in the newest version of the format.
std::string WriteSceneText(const SceneDocument& document, const SceneProgress& progress = {});

// Reads a whole document, of any version this host knows. Answers false
// with *error naming `path` and the line, quoting what was found, when the
// text is not a scene file, is truncated, or holds a value of the wrong
// kind or count.
bool ParseSceneText(const std::string& text, const std::string& path, SceneDocument* document,
                    std::string* error, const SceneProgress& progress = {});

}  // namespace fbhost_internal
