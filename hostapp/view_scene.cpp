#include "view_scene.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include <fbhost/devices.h>
#include <fbhost/engine.h>
#include <fbhost/scene.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbrotation.h>

#include "take_curves.h"

namespace orbel::hostapp {

namespace {

using Kind = SceneCopy::Kind;

Kind KindOf(FBModel* model) {
  if (model->Is(FBModelSkeleton::TypeInfo)) return Kind::Skeleton;
  if (model->Is(FBModelMarker::TypeInfo)) return Kind::Marker;
  if (model->Is(FBModelNull::TypeInfo)) return Kind::Null;
  return Kind::Other;
}

ViewComposer::Rigid Local(const SceneCopy::Model& model) {
  ViewComposer::Rigid local;
  std::copy(std::begin(model.translation), std::end(model.translation), local.t);
  // Markers and nulls do not turn: no trigonometry for them.
  if (model.rotation[0] == 0.0 && model.rotation[1] == 0.0 && model.rotation[2] == 0.0) {
    return local;
  }
  FBVector4<double> q;
  FBRotationToQuaternion(
      q, FBVector3<double>(model.rotation[0], model.rotation[1], model.rotation[2]), kFBXYZ);
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const double m[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                       2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                       2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
  std::copy(std::begin(m), std::end(m), local.r);
  return local;
}

// parent * child.
ViewComposer::Rigid Times(const ViewComposer::Rigid& parent, const ViewComposer::Rigid& child) {
  ViewComposer::Rigid out;
  for (std::size_t row = 0; row < 3; ++row) {
    const double* p = parent.r + row * 3;
    for (std::size_t column = 0; column < 3; ++column) {
      out.r[row * 3 + column] =
          p[0] * child.r[column] + p[1] * child.r[3 + column] + p[2] * child.r[6 + column];
    }
    out.t[row] = p[0] * child.t[0] + p[1] * child.t[1] + p[2] * child.t[2] + parent.t[row];
  }
  return out;
}

// As a float, in its shortest form: what the page keeps, in few bytes.
void AppendNumber(double value, std::string* out) {
  if (!std::isfinite(value)) value = 0.0;  // JSON has no NaN; a bad value shows at the origin
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
  out->append(text, result.ptr);
}

}  // namespace

void CaptureScene(SceneCopy* copy, bool structure) {
  const std::vector<FBModel*> models = fbhost::SceneModels();
  bool sameModels = models.size() == copy->models.size();
  for (std::size_t i = 0; sameModels && i < models.size(); ++i) {
    sameModels = copy->models[i].self == models[i];
  }
  copy->structureRead = structure || !sameModels;
  copy->models.resize(models.size());
  for (std::size_t i = 0; i < models.size(); ++i) {
    FBModel* model = models[i];
    SceneCopy::Model& to = copy->models[i];
    if (copy->structureRead) {
      // The parent lookup takes the scene's lock: not every frame.
      to.self = model;
      to.parent = model->GetParent();
      to.kind = KindOf(model);
      to.show = model->Show.Get();
      to.label = model->GetLabelName().str();
    }
    const FBVector3<double> t = model->Translation.Get();
    const FBVector3<double> r = model->Rotation.Get();
    for (std::size_t axis = 0; axis < 3; ++axis) {
      to.translation[axis] = t[axis];
      to.rotation[axis] = r[axis];
    }
  }
  const std::vector<FBDevice*> devices = fbhost::Devices();
  copy->devices.resize(devices.size());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    SceneCopy::Device& to = copy->devices[i];
    to.name = devices[i]->GetLabelName().str();
    to.status = devices[i]->Status.Get().str();
    to.information = devices[i]->Information.Get().str();
    to.online = devices[i]->Online.Get();
    to.live = devices[i]->Live.Get();
  }
  copy->recording = fbhost::TransportRecording();
  FBTake* take = fbhost::CurrentTake();
  copy->take = take != nullptr ? take->GetLabelName().str() : std::string();
  copy->transportTime = fbhost::TransportTime();
}

void ViewComposer::Compose(const SceneCopy& copy, const ViewFigures& figures) {
  const auto& models = copy.models;
  const std::size_t n = models.size();

  // Who is whose parent: worked out again only when a model or a link changed.
  bool sameLinks = mSelves.size() == n;
  for (std::size_t i = 0; sameLinks && i < n; ++i) {
    sameLinks = mSelves[i] == models[i].self && mParents[i] == models[i].parent;
  }
  if (!sameLinks) {
    std::unordered_map<const void*, int> indexOf;
    indexOf.reserve(n);
    mSelves.resize(n);
    mParents.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      indexOf.emplace(models[i].self, static_cast<int>(i));
      mSelves[i] = models[i].self;
      mParents[i] = models[i].parent;
    }
    mParentOf.assign(n, -1);
    for (std::size_t i = 0; i < n; ++i) {
      const auto found = indexOf.find(models[i].parent);
      if (models[i].parent != nullptr && found != indexOf.end()) mParentOf[i] = found->second;
    }
  }

  // World transforms, each parent once; iterative, as scene files may nest
  // deeply. The chain walk is bounded by the model count in case a parent
  // link loops.
  mWorld.resize(n);
  mDone.assign(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    mChain.clear();
    for (int at = static_cast<int>(i);
         at >= 0 && !mDone[static_cast<std::size_t>(at)] && mChain.size() <= n;
         at = mParentOf[static_cast<std::size_t>(at)]) {
      mChain.push_back(at);
    }
    for (auto it = mChain.rbegin(); it != mChain.rend(); ++it) {
      const auto at = static_cast<std::size_t>(*it);
      const int parent = mParentOf[at];
      const Rigid local = Local(models[at]);
      mWorld[at] = parent >= 0 && mDone[static_cast<std::size_t>(parent)]
                       ? Times(mWorld[static_cast<std::size_t>(parent)], local)
                       : local;
      mDone[at] = 1;
    }
  }

  // What is drawn and how it hangs together, worked out again only when
  // something that decides it may have changed.
  if (mVersion == 0 || copy.structureRead) BuildStructure(copy);

  if (copy.recording && !mSawRecording) mRecordingSince = copy.transportTime;
  mSawRecording = copy.recording;
  const double takeSeconds =
      copy.recording ? (copy.transportTime - mRecordingSince).GetSecondDouble() : 0.0;

  nlohmann::json devices = nlohmann::json::array();
  for (const SceneCopy::Device& device : copy.devices) {
    devices.push_back({{"name", device.name},
                       {"status", device.status},
                       {"information", device.information},
                       {"online", device.online},
                       {"live", device.live}});
  }
  nlohmann::json meta = {
      {"up", figures.zUp ? "z" : "y"},
      {"fps", std::round(figures.framesPerSecond * 10.0) / 10.0},
      {"latencyMs", figures.haveLatency
                        ? nlohmann::json(std::round(figures.latencyMs * 100.0) / 100.0)
                        : nlohmann::json(nullptr)},
      {"devices", std::move(devices)},
      {"recording",
       copy.recording
           ? nlohmann::json{{"take", copy.take}, {"seconds", std::round(takeSeconds * 10.0) / 10.0}}
           : nlohmann::json(nullptr)}};
  std::string pose =
      "{\"v\":" + std::to_string(mVersion) + ",\"seq\":" + std::to_string(++mSequence) +
      ",\"meta\":" + meta.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
      ",\"p\":[";
  pose.reserve(pose.size() + mDrawn.size() * 3 * 12 + 2);
  bool first = true;
  for (std::size_t i : mDrawn) {
    for (double c : mWorld[i].t) {
      if (!first) pose += ',';
      first = false;
      AppendNumber(c, &pose);
    }
  }
  pose += "]}";
  mPoseJson = std::move(pose);
}

void ViewComposer::BuildStructure(const SceneCopy& copy) {
  const auto& models = copy.models;
  const std::size_t n = models.size();

  Structure structure;
  std::vector<int> subjectIndex(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    const std::string space = NamespaceOf(models[i].label);
    if (models[i].kind != Kind::Null || space == kUnlabeledSubject) continue;
    subjectIndex[i] = static_cast<int>(structure.subjects.size());
    structure.subjects.push_back(space.empty() ? models[i].label : space);
  }
  std::vector<int> pointOf(n, -1);
  mDrawn.clear();
  for (std::size_t i = 0; i < n; ++i) {
    const SceneCopy::Model& model = models[i];
    if (!model.show || (model.kind != Kind::Skeleton && model.kind != Kind::Marker)) continue;
    int subject = -1;
    int at = mParentOf[i];
    for (std::size_t steps = 0; at >= 0 && steps <= n; ++steps) {
      if (subjectIndex[static_cast<std::size_t>(at)] >= 0) {
        subject = subjectIndex[static_cast<std::size_t>(at)];
        break;
      }
      at = mParentOf[static_cast<std::size_t>(at)];
    }
    pointOf[i] = static_cast<int>(mDrawn.size());
    mDrawn.push_back(i);
    structure.names.push_back(NameOf(model.label));
    structure.kinds.push_back(model.kind == Kind::Skeleton ? 0 : (subject >= 0 ? 1 : 2));
    structure.subjectOf.push_back(subject);
  }
  for (std::size_t i : mDrawn) {
    const int parent = mParentOf[i];
    if (models[i].kind != Kind::Skeleton || parent < 0) continue;
    const int parentPoint = pointOf[static_cast<std::size_t>(parent)];
    if (parentPoint < 0 || models[static_cast<std::size_t>(parent)].kind != Kind::Skeleton) {
      continue;
    }
    structure.bones.push_back(pointOf[i]);
    structure.bones.push_back(parentPoint);
  }

  if (mVersion > 0 && structure == mStructure) return;
  mStructure = std::move(structure);
  ++mVersion;
  const nlohmann::json json = {{"v", mVersion},
                               {"subjects", mStructure.subjects},
                               {"names", mStructure.names},
                               {"kinds", mStructure.kinds},
                               {"subjectOf", mStructure.subjectOf},
                               {"bones", mStructure.bones}};
  mStructureJson = json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace orbel::hostapp
