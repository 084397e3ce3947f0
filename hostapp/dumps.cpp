#include "dumps.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/scene.h>
#include <fbsdk/fbmodel.h>
#include <fbsdk/fbmodeltemplate.h>

#include "command_words.h"

namespace orbel::hostapp {

namespace {

using nlohmann::json;

json Vector3(const FBVector3<double>& v) { return json::array({v[0], v[1], v[2]}); }

json LabelOrNull(FBComponent* component) {
  return component == nullptr ? json(nullptr) : json(component->GetLabelName().str());
}

const char* StyleName(FBModelTemplateStyle style) {
  switch (style) {
    case kFBModelTemplateDefault:
      return "default";
    case kFBModelTemplateNull:
      return "null";
    case kFBModelTemplateMarker:
      return "marker";
    case kFBModelTemplateRoot:
      return "root";
    case kFBModelTemplateSkeleton:
      return "skeleton";
  }
  return "unknown";
}

const char* ModelClass(FBModel* model) {
  if (model->Is(FBModelMarker::TypeInfo)) return "Marker";
  if (model->Is(FBModelSkeleton::TypeInfo)) return "Skeleton";
  if (model->Is(FBModelNull::TypeInfo)) return "Null";
  if (model->Is(FBModelRoot::TypeInfo)) return "Root";
  return "Model";
}

// Iterative walks: a hostile scene file may nest models deeply.
template <typename Node, typename Describe, typename ChildrenOf>
json Forest(const std::vector<Node*>& roots, Describe describe, ChildrenOf childrenOf) {
  json forest = json::array();
  struct Pending {
    Node* node;
    json* into;  // the array the node's description goes into
  };
  std::vector<Pending> pending;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.push_back({*it, &forest});
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    json entry = describe(next.node);
    entry["children"] = json::array();
    next.into->push_back(std::move(entry));
    json* children = &next.into->back()["children"];
    const std::vector<Node*> kids = childrenOf(next.node);
    for (auto it = kids.rbegin(); it != kids.rend(); ++it) pending.push_back({*it, children});
  }
  return forest;
}

}  // namespace

json DeviceJson(FBDevice& device) {
  // The model the root template is bound to; the device names its own
  // binding root only when it starts.
  FBArrayTemplate<FBModel*> roots;
  device.ModelBindingRootsList(roots);
  FBModel* bindingRoot = roots.GetCount() > 0 ? roots[0] : nullptr;
  return json{
      {"name", device.GetLabelName().str()},
      {"class", device.ClassName()},
      {"registeredClass", device.mRegisteredClassName.str()},
      {"status", device.Status.Get().str()},
      {"information", device.Information.Get().str()},
      {"hardware", device.Hardware.Get().str()},
      {"icon", device.IconFilename.Get().str()},
      {"online", device.Online.Get()},
      {"live", device.Live.Get()},
      {"recording", device.Recording.Get()},
      {"samplingPeriodSeconds", device.SamplingPeriod.Get().GetSecondDouble()},
      {"templates", device.ModelTemplate.GetCount()},
      {"modelBindingRoot", LabelOrNull(bindingRoot)},
  };
}

json TemplatesJson(FBDevice& device) {
  std::vector<FBModelTemplate*> roots;
  for (int i = 0; i < device.ModelTemplate.GetCount(); ++i) {
    if (FBModelTemplate* t = device.ModelTemplate[i]) roots.push_back(t);
  }
  auto describe = [](FBModelTemplate* t) {
    json nodes = json::array();
    for (int i = 0; i < t->AnimationNodes.GetCount(); ++i) {
      FBAnimationNode* node = t->AnimationNodes[i];
      if (node == nullptr) continue;
      nodes.push_back({{"name", node->LongName.Get().str()},
                       {"id", node->GetUserId()},
                       {"dataType", node->GetDataType().str()}});
    }
    const FBModelTemplateStyle style = t->Style.Get();
    return json{{"prefix", t->Prefix.Get().str()},      {"name", t->GetLabelName().str()},
                {"style", static_cast<int>(style)},     {"styleName", StyleName(style)},
                {"model", LabelOrNull(t->Model.Get())}, {"nodes", std::move(nodes)}};
  };
  auto childrenOf = [](FBModelTemplate* t) {
    std::vector<FBModelTemplate*> kids;
    for (int i = 0; i < t->Children.GetCount(); ++i) {
      if (FBModelTemplate* c = t->Children[i]) kids.push_back(c);
    }
    return kids;
  };
  return json{{"device", device.GetLabelName().str()},
              {"templates", Forest(roots, describe, childrenOf)}};
}

json SceneJson() {
  const std::vector<FBModel*> models = fbhost::SceneModels();
  std::vector<FBModel*> roots;
  for (FBModel* model : models) {
    if (model->GetParent() == nullptr) roots.push_back(model);
  }
  auto describe = [](FBModel* model) {
    json entry{{"class", ModelClass(model)},
               {"label", model->GetLabelName().str()},
               {"show", model->Show.Get()}};
    if (model->Is(FBModelMarker::TypeInfo)) {
      entry["color"] = Vector3(static_cast<FBModelMarker*>(model)->Color.Get());
    }
    entry["shading"] = static_cast<int>(model->ShadingMode.Get());
    entry["translation"] = Vector3(model->Translation.Get());
    entry["rotation"] = Vector3(model->Rotation.Get());
    return entry;
  };
  auto childrenOf = [](FBModel* model) {
    std::vector<FBModel*> kids;
    for (int i = 0; i < model->Children.GetCount(); ++i) {
      if (FBModel* c = model->Children[i]) kids.push_back(c);
    }
    return kids;
  };
  return json{{"modelCount", models.size()},
              {"namespaces", fbhost::SceneNamespaces()},
              {"models", Forest(roots, describe, childrenOf)}};
}

bool SettingsJson(const std::string& name, json* out, std::string* error) {
  std::string path, problems;
  if (!fbhost::ResolveConfigName(name, &path, error)) return false;
  // A device's own file ("@Name") is missing until the device first writes
  // it; a file named by path was meant to be there.
  struct stat info {};
  if (name[0] != '@' && stat(path.c_str(), &info) != 0) {
    *error = "cannot read the settings file " + Quote(path) + ": " + std::strerror(errno);
    return false;
  }
  std::vector<fbhost::ConfigSetting> settings;
  if (!fbhost::ReadConfigSettings(name, &settings, error, &problems)) return false;
  // A damaged file's bytes are shown escaped: JSON holds only UTF-8.
  json sections = json::object();
  for (const auto& s : settings) {
    sections[EscapeBytes(s.section)][EscapeBytes(s.key)] = EscapeBytes(s.value);
  }
  *out = json{{"file", EscapeBytes(path)}, {"settings", std::move(sections)}};
  if (!problems.empty()) (*out)["problems"] = EscapeBytes(problems);
  return true;
}

json TakeJson(FBTake& take, bool keys) {
  const FBTimeSpan span = take.LocalTimeSpan.Get();
  json curves = json::array();
  for (const FBTakeCurve& curve : take.GetCurves()) {
    json entry{{"node", curve.nodeName},
               {"dataType", curve.dataType},
               {"layer", curve.layer},
               {"keys", curve.keyCount}};
    const std::size_t split = curve.nodeName.rfind(' ' + curve.dataType);
    std::vector<FBTakeKey> found;
    if (split != std::string::npos && split + 1 + curve.dataType.size() == curve.nodeName.size()) {
      // A curve named "<model> <data type>" is one the take recorded; its
      // node is the take's own, which asking for it again does not remake.
      found = take.GetKeys(take.RecordNode(curve.nodeName.substr(0, split), curve.dataType),
                           curve.layer);
    }
    if (!found.empty()) {
      entry["firstSeconds"] = found.front().time.GetSecondDouble();
      entry["lastSeconds"] = found.back().time.GetSecondDouble();
      if (keys) {
        json values = json::array();
        for (const FBTakeKey& key : found) {
          values.push_back(
              json::array({key.time.GetSecondDouble(), key.value[0], key.value[1], key.value[2]}));
        }
        entry["values"] = std::move(values);
      }
    }
    curves.push_back(std::move(entry));
  }
  return json{{"name", take.GetLabelName().str()},
              {"current", &take == fbhost::CurrentTake()},
              {"timeSpanSeconds",
               json::array({span.GetStart().GetSecondDouble(), span.GetStop().GetSecondDouble()})},
              {"layers", take.GetLayerCount()},
              {"currentLayer", take.GetCurrentLayer()},
              {"curves", std::move(curves)}};
}

json StatsJson(FBDevice& device, const LiveFigures& figures) {
  const fbhost::DeviceStatistics stats = fbhost::GetDeviceStatistics(&device);
  const LatencySummary& latency = figures.latency;
  json latencyJson{{"samples", latency.samples}};
  if (latency.samples > 0) {
    latencyJson["mean"] = latency.meanMs;
    latencyJson["min"] = latency.minMs;
    latencyJson["median"] = latency.medianMs;
    latencyJson["p95"] = latency.p95Ms;
    latencyJson["max"] = latency.maxMs;
  }
  return json{{"device", device.GetLabelName().str()},
              {"samplesAcknowledged", stats.samplesAcknowledged},
              {"inputCalls", stats.inputCalls},
              {"evaluationCalls", stats.evaluationCalls},
              {"framesFetched", figures.framesFetched},
              {"framesMissed", figures.framesMissed},
              {"nonFiniteValues", figures.nonFiniteAnswers},
              {"latencyMs", std::move(latencyJson)}};
}

}  // namespace orbel::hostapp
