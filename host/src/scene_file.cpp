#include "fbhost/scenefile.h"

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include "fbhost/devices.h"
#include "fbhost/fieldstore.h"
#include "fbhost/messages.h"
#include "fbhost/panel.h"
#include "fbhost/registry.h"
#include "fbhost/scene.h"
#include "fbsdk/fbdevice.h"
#include "fbsdk/fbfbxobject.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbmodeltemplate.h"
#include "fbsdk/fbprogress.h"
#include "fbsdk/fbregistry.h"
#include "host_files.h"
#include "scene_state.h"
#include "scene_text.h"

namespace fbhost {
namespace {

using fbhost_internal::SceneBindingRecord;
using fbhost_internal::SceneCurveRecord;
using fbhost_internal::SceneDeviceRecord;
using fbhost_internal::SceneDocument;
using fbhost_internal::SceneModelRecord;
using fbhost_internal::SceneTakeRecord;

constexpr const char* kStorableGroup = "FbxStorable/Device";
// A scene file larger than this is refused unread. Takes make scenes big: a
// key is about 70 bytes, so ten minutes of two actors at 120 frames per
// second (88 curves each) come to about a gigabyte.
constexpr std::size_t kMaxSceneBytes = std::size_t{4} << 30;
// Files and takes from this size on show their progress.
constexpr std::size_t kProgressKeys = 200000;
constexpr std::size_t kProgressBytes = std::size_t{16} << 20;

// A progress box that opens only for long work and shows whole percents.
class FileProgress {
 public:
  FileProgress(bool wanted, const std::string& caption, const std::string& text) {
    if (!wanted) return;
    mBox = std::make_unique<FBProgress>();
    mBox->Caption = caption.c_str();
    mBox->Text = text.c_str();
    mBox->Percent = 0;
  }
  void Tell(std::size_t done, std::size_t total) {
    if (!mBox || total == 0) return;
    const int percent = static_cast<int>(std::min<std::size_t>(100, done * 100 / total));
    if (percent == mPercent) return;
    mPercent = percent;
    mBox->Percent = percent;
  }
  fbhost_internal::SceneProgress Callback() {
    if (!mBox) return {};
    return [this](std::size_t done, std::size_t total) { Tell(done, total); };
  }

 private:
  std::unique_ptr<FBProgress> mBox;
  int mPercent = 0;
};

constexpr kFbxObjectStore kPhases[] = {kFbxStoreAttributes, kFbxStoreFields, kFbxStoreCleanup};

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

FBModel* MakeModel(const std::string& kind, const char* label) {
  FBModel* model = nullptr;
  if (kind == "Marker") {
    model = new FBModelMarker(label);
  } else if (kind == "Skeleton") {
    model = new FBModelSkeleton(label);
  } else if (kind == "Null") {
    model = new FBModelNull(label);
  } else if (kind == "Root") {
    model = new FBModelRoot(label);
  } else {
    model = new FBModel(label);
  }
  model->mAllocated = true;
  return model;
}

// Parents before their children, children in their parent's order, models
// without a parent in the order they were made.
std::vector<FBModel*> ModelsInFileOrder() {
  const std::vector<FBModel*> all = SceneModels();
  std::vector<FBModel*> ordered;
  std::function<void(FBModel*)> visit = [&](FBModel* model) {
    ordered.push_back(model);
    for (int i = 0; i < model->Children.GetCount(); ++i) {
      if (FBModel* child = model->Children[i]) visit(child);
    }
  };
  for (FBModel* model : all) {
    if (model->GetParent() == nullptr) visit(model);
  }
  return ordered;
}

// The bound templates of a device, each with its path from a top-level
// template (depth first, so parents before their children).
std::vector<SceneBindingRecord> BindingsOf(FBDevice* device,
                                           const std::unordered_map<FBModel*, int>& indexOf) {
  std::vector<SceneBindingRecord> bindings;
  struct Pending {
    FBModelTemplate* modelTemplate;
    SceneBindingRecord where;
  };
  std::vector<Pending> pending;
  for (int top = device->ModelTemplate.GetCount() - 1; top >= 0; --top) {
    if (FBModelTemplate* t = device->ModelTemplate[top]) {
      SceneBindingRecord where;
      where.topIndex = top;
      pending.push_back({t, std::move(where)});
    }
  }
  std::set<FBModelTemplate*> seen;
  while (!pending.empty()) {
    Pending next = std::move(pending.back());
    pending.pop_back();
    if (!seen.insert(next.modelTemplate).second) continue;
    const auto found = indexOf.find(next.modelTemplate->Model.Get());
    if (found != indexOf.end()) {
      next.where.model = found->second;
      bindings.push_back(next.where);
    }
    for (int i = next.modelTemplate->Children.GetCount() - 1; i >= 0; --i) {
      FBModelTemplate* child = next.modelTemplate->Children[i];
      if (child == nullptr) continue;
      Pending below{child, next.where};
      below.where.path.emplace_back(child->Prefix.Get().str(), child->GetLabelName().str());
      pending.push_back(std::move(below));
    }
  }
  return bindings;
}

// Binds the device's templates to the loaded models again, as they were
// when the scene was saved, so that a bind reuses those models instead of
// making new ones beside them.
void RestoreBindings(FBDevice& device, const SceneDeviceRecord& record,
                     const std::vector<FBModel*>& models, const std::string& path) {
  for (const SceneBindingRecord& binding : record.bindings) {
    FBModelTemplate* at = device.ModelTemplate[binding.topIndex];
    for (const auto& [prefix, label] : binding.path) {
      FBModelTemplate* next = nullptr;
      for (int i = 0; at != nullptr && i < at->Children.GetCount() && next == nullptr; ++i) {
        FBModelTemplate* child = at->Children[i];
        if (child != nullptr && child->Prefix.Get().str() == prefix &&
            child->GetLabelName().str() == label) {
          next = child;
        }
      }
      at = next;
    }
    FBModel* model = models[static_cast<std::size_t>(binding.model)];
    if (at == nullptr) {
      ReportMessage(MessageLevel::Warning, "device '" + record.name + "' of scene file '" + path +
                                               "' has no template where model '" +
                                               model->GetLabelName().str() +
                                               "' was bound; it stays unbound");
      continue;
    }
    at->Model = model;
  }
}

SceneTakeRecord TakeRecordOf(FBTake* take, bool current, const std::string& path) {
  SceneTakeRecord r;
  r.name = take->GetLabelName().str();
  r.current = current;
  const FBTimeSpan span = take->LocalTimeSpan.Get();
  r.spanStart = span.GetStart().Get();
  r.spanStop = span.GetStop().Get();
  r.layers = take->GetLayerCount();
  r.currentLayer = take->GetCurrentLayer();
  r.models = take->GetModels();
  std::map<std::pair<std::string, int>, int> taken;
  for (const FBTakeCurve& curve : take->GetCurves()) {
    SceneCurveRecord c;
    c.nodeName = curve.nodeName.empty() ? std::string("curve") : curve.nodeName;
    c.dataType = curve.dataType;
    c.layer = curve.layer;
    c.keys = take->GetKeys(curve.nodeSerial, curve.layer);
    // Two nodes of one name (two devices keying their own nodes) would meet
    // in one curve when loaded: the later ones get a number.
    const std::string base = c.nodeName;
    for (int n = 2; taken.count({c.nodeName, c.layer}) > 0; ++n) {
      c.nodeName = base + " (" + std::to_string(n) + ")";
    }
    if (c.nodeName != curve.nodeName) {
      ReportMessage(MessageLevel::Warning, "take '" + r.name + "': curve '" + curve.nodeName +
                                               "' is saved in '" + path + "' as '" + c.nodeName +
                                               "', as another curve has its name");
    }
    taken[{c.nodeName, c.layer}] = 1;
    r.curves.push_back(std::move(c));
  }
  return r;
}

FBTake* MakeTake(const SceneTakeRecord& r) {
  auto* take = new FBTake(r.name.c_str());
  take->mAllocated = true;
  take->LocalTimeSpan = FBTimeSpan(FBTime(r.spanStart), FBTime(r.spanStop));
  while (take->GetLayerCount() < r.layers) take->CreateNewLayer();
  if (r.currentLayer != 0) take->SetCurrentLayer(r.currentLayer);
  for (const FBTakeModel& model : r.models) take->RestoreModel(model);
  for (const SceneCurveRecord& curve : r.curves) {
    take->RestoreCurve(curve.nodeName, curve.dataType, curve.layer, curve.keys);
  }
  return take;
}

std::size_t KeyCount(const SceneDocument& document) {
  std::size_t keys = 0;
  for (const auto& take : document.takes) {
    for (const auto& curve : take.curves) keys += curve.keys.size();
  }
  return keys;
}

bool ReadDocument(const std::string& path, SceneDocument* document, std::string* error) {
  std::string text, why;
  switch (fbhost_internal::ReadWholeFile(path, kMaxSceneBytes, &text, &why)) {
    case fbhost_internal::ReadStatus::Missing:
      SetError(error, "scene file '" + path + "' does not exist");
      return false;
    case fbhost_internal::ReadStatus::TooLarge:
    case fbhost_internal::ReadStatus::Failed:
      SetError(error, "scene file: " + why);
      return false;
    case fbhost_internal::ReadStatus::Ok:
      break;
  }
  FileProgress progress(text.size() >= kProgressBytes, "Loading scene", path);
  if (!fbhost_internal::ParseSceneText(text, path, document, &why, progress.Callback())) {
    SetError(error, why);
    return false;
  }
  for (const SceneDeviceRecord& device : document->devices) {
    if (!FindRegistration(kStorableGroup, device.className, nullptr)) {
      SetError(error, "scene file '" + path + "' line " + std::to_string(device.line) +
                          ": no plug-in registered the device class '" + device.className +
                          "' in \"" + kStorableGroup + "\", so device '" + device.name +
                          "' cannot be made");
      return false;
    }
  }
  return true;
}

}  // namespace

bool SaveScene(const std::string& path, std::string* error) {
  SceneDocument document;
  const std::vector<FBModel*> models = ModelsInFileOrder();
  std::unordered_map<FBModel*, int> indexOf;
  for (FBModel* model : models) {
    SceneModelRecord r;
    r.kind = fbhost_internal::ModelKind(model);
    r.label = model->GetLabelName().str();
    const auto parent = indexOf.find(model->GetParent());
    if (parent != indexOf.end()) r.parent = parent->second;
    indexOf.emplace(model, static_cast<int>(document.models.size()));
    r.show = model->Show.Get();
    if (r.kind == "Marker") {
      const FBColor colour = static_cast<FBModelMarker*>(model)->Color.Get();
      r.color = {colour[0], colour[1], colour[2]};
    }
    r.shading = static_cast<int>(model->ShadingMode.Get());
    const FBVector3<double> t = model->Translation.Get(), q = model->Rotation.Get();
    r.translation = {t[0], t[1], t[2]};
    r.rotation = {q[0], q[1], q[2]};
    document.models.push_back(std::move(r));
  }
  for (FBDevice* device : Devices()) {
    const std::string name = device->GetLabelName().str();
    if (device->mRegisteredClassName.IsEmpty()) {
      ReportMessage(MessageLevel::Warning, "device '" + name +
                                               "' has no registered class name, so it cannot "
                                               "be made again and is not saved in '" +
                                               path + "'");
      continue;
    }
    FBFbxObject store;
    device->SetObjectStatus(kFBStatusStoring, true);
    for (const kFbxObjectStore phase : kPhases) device->FbxStore(&store, phase);
    device->SetObjectStatus(kFBStatusStoring, false);
    if (const int stray = StrayValueCount(store)) {
      ReportMessage(MessageLevel::Warning, "device '" + name + "' wrote " + std::to_string(stray) +
                                               " values outside any field; they are not saved");
    }
    SceneDeviceRecord r;
    r.className = device->mRegisteredClassName.str();
    r.name = name;
    r.fields = FieldsOf(store);
    r.bindings = BindingsOf(device, indexOf);
    document.devices.push_back(std::move(r));
  }
  const FBTake* current = CurrentTake();
  for (FBTake* take : Takes()) document.takes.push_back(TakeRecordOf(take, take == current, path));
  FileProgress progress(KeyCount(document) >= kProgressKeys, "Saving scene", path);
  std::string why;
  if (!fbhost_internal::WriteFileSafely(
          path, fbhost_internal::WriteSceneText(document, progress.Callback()), &why)) {
    SetError(error, "scene not saved: " + why);
    return false;
  }
  return true;
}

bool CheckSceneFile(const std::string& path, std::string* error) {
  SceneDocument document;
  return ReadDocument(path, &document, error);
}

bool LoadScene(const std::string& path, std::string* error) {
  SceneDocument document;
  if (!ReadDocument(path, &document, error)) return false;

  for (FBDevice* device : Devices()) ClosePanelsFor(device);
  ResetScene();

  std::vector<FBModel*> made;
  made.reserve(document.models.size());
  for (const SceneModelRecord& r : document.models) {
    FBModel* model = MakeModel(r.kind, r.label.c_str());
    if (r.parent >= 0) made[static_cast<std::size_t>(r.parent)]->Children.Add(model);
    model->Show = r.show;
    model->ShadingMode = static_cast<FBModelShadingMode>(r.shading);
    model->Translation = FBVector3<double>(r.translation[0], r.translation[1], r.translation[2]);
    model->Rotation = FBVector3<double>(r.rotation[0], r.rotation[1], r.rotation[2]);
    if (r.kind == "Marker") {
      static_cast<FBModelMarker*>(model)->Color = FBColor(r.color[0], r.color[1], r.color[2]);
    }
    made.push_back(model);
  }

  if (!document.takes.empty()) {
    FileProgress progress(KeyCount(document) >= kProgressKeys, "Loading takes", path);
    std::vector<FBTake*> takes;
    FBTake* current = nullptr;
    std::size_t done = 0;
    for (const SceneTakeRecord& r : document.takes) {
      takes.push_back(MakeTake(r));
      if (r.current) current = takes.back();
      for (const auto& curve : r.curves) done += curve.keys.size();
      progress.Tell(done, KeyCount(document));
    }
    fbhost_internal::ReplaceTakes(std::move(takes), current);
  }

  std::string failures;
  for (const SceneDeviceRecord& r : document.devices) {
    auto restore = [&](FBDevice& device) {
      device.LongName = r.name.c_str();
      FBFbxObject store;
      SetFields(store, r.fields);
      for (const kFbxObjectStore phase : kPhases) {
        if (!device.FbxRetrieve(&store, phase)) {
          ReportMessage(MessageLevel::Warning, "device '" + r.name + "' of scene file '" + path +
                                                   "' did not take its stored fields (phase " +
                                                   std::to_string(static_cast<int>(phase)) + ")");
        }
      }
    };
    std::string why;
    FBDevice* device = AddDeviceWith(kStorableGroup, r.className, restore, &why);
    if (device == nullptr) {
      failures += (failures.empty() ? "" : "; ") + ("line " + std::to_string(r.line) + ": " + why);
      continue;
    }
    RestoreBindings(*device, r, made, path);
  }
  if (!failures.empty()) {
    SetError(error, "scene file '" + path + "' loaded without some devices: " + failures);
    return false;
  }
  return true;
}

}  // namespace fbhost
