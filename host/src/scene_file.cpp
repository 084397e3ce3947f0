#include "fbhost/scenefile.h"

#include <functional>
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
#include "fbsdk/fbregistry.h"
#include "host_files.h"
#include "scene_text.h"

namespace fbhost {
namespace {

using fbhost_internal::SceneDeviceRecord;
using fbhost_internal::SceneDocument;
using fbhost_internal::SceneModelRecord;

constexpr const char* kStorableGroup = "FbxStorable/Device";
// A scene file larger than this is refused unread.
constexpr std::size_t kMaxSceneBytes = std::size_t{512} << 20;

constexpr kFbxObjectStore kPhases[] = {kFbxStoreAttributes, kFbxStoreFields, kFbxStoreCleanup};

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string KindOf(FBModel* model) {
  if (model->Is(FBModelMarker::TypeInfo)) return "Marker";
  if (model->Is(FBModelSkeleton::TypeInfo)) return "Skeleton";
  if (model->Is(FBModelNull::TypeInfo)) return "Null";
  if (model->Is(FBModelRoot::TypeInfo)) return "Root";
  return "Model";
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
  if (!fbhost_internal::ParseSceneText(text, path, document, &why)) {
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
  for (FBModel* model : models) {
    SceneModelRecord r;
    r.kind = KindOf(model);
    r.label = model->GetLabelName().str();
    FBModel* parent = model->GetParent();
    for (std::size_t i = 0; parent != nullptr && i < document.models.size(); ++i) {
      if (models[i] == parent) r.parent = static_cast<int>(i);
    }
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
    document.devices.push_back(std::move(r));
  }
  std::string why;
  if (!fbhost_internal::WriteFileSafely(path, fbhost_internal::WriteSceneText(document), &why)) {
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
    if (AddDeviceWith(kStorableGroup, r.className, restore, &why) == nullptr) {
      failures += (failures.empty() ? "" : "; ") + ("line " + std::to_string(r.line) + ": " + why);
    }
  }
  if (!failures.empty()) {
    SetError(error, "scene file '" + path + "' loaded without some devices: " + failures);
    return false;
  }
  return true;
}

}  // namespace fbhost
