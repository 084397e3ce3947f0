#include "fbhost/devices.h"

#include <algorithm>
#include <exception>

#include "fbhost/registry.h"
#include "fbhost/scene.h"
#include "fbsdk/fbregistry.h"
#include "scene_state.h"

namespace fbhost_internal {

DeviceRegistry& Devices() {
  static DeviceRegistry* registry = new DeviceRegistry;
  return *registry;
}

namespace {
DeviceRegistry::Entry* Find(DeviceRegistry& registry, const FBDevice* device) {
  for (auto& entry : registry.entries) {
    if (entry.device == device) return &entry;
  }
  return nullptr;
}
}  // namespace

std::vector<FBDevice*> PinOnlineDevices() {
  auto& registry = Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  std::vector<FBDevice*> pinned;
  for (auto& entry : registry.entries) {
    if (entry.removing || !entry.device->Online.Get()) continue;
    ++entry.inFlight;
    pinned.push_back(entry.device);
  }
  return pinned;
}

bool PinOnlineDevice(FBDevice* device) {
  auto& registry = Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  DeviceRegistry::Entry* entry = Find(registry, device);
  if (entry == nullptr || entry->removing || !device->Online.Get()) return false;
  ++entry->inFlight;
  return true;
}

void Unpin(FBDevice* device) {
  auto& registry = Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  DeviceRegistry::Entry* entry = Find(registry, device);
  if (entry != nullptr && --entry->inFlight == 0) registry.idle.notify_all();
}

bool BeginRemoval(FBDevice* device) {
  auto& registry = Devices();
  std::unique_lock<std::mutex> lock(registry.lock);
  DeviceRegistry::Entry* entry = Find(registry, device);
  if (entry == nullptr || entry->removing) return false;
  entry->removing = true;
  registry.idle.wait(lock, [&registry, device] {
    const DeviceRegistry::Entry* e = Find(registry, device);
    return e == nullptr || e->inFlight == 0;
  });
  return true;
}

void EndRemoval(FBDevice* device) {
  auto& registry = Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  auto& entries = registry.entries;
  entries.erase(
      std::remove_if(entries.begin(), entries.end(),
                     [device](const DeviceRegistry::Entry& e) { return e.device == device; }),
      entries.end());
}

}  // namespace fbhost_internal

namespace fbhost {
namespace {

using fbhost_internal::DeviceRegistry;

bool InScene(const FBDevice* device) {
  auto& registry = fbhost_internal::Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  for (const auto& entry : registry.entries) {
    if (entry.device == device && !entry.removing) return true;
  }
  return false;
}

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

std::string Quoted(const FBComponent* component) {
  return "'" + (component != nullptr ? component->GetLabelName().str() : std::string()) + "'";
}

// The top-level template at the index, or null with an error.
FBModelTemplate* TemplateAt(FBDevice* device, int index, std::string* error) {
  if (device == nullptr || !InScene(device)) {
    SetError(error, "the device is not in the scene");
    return nullptr;
  }
  FBModelTemplate* modelTemplate = device->ModelTemplate[index];
  if (modelTemplate == nullptr) {
    SetError(error, "device " + Quoted(device) + " has no model template at index " +
                        std::to_string(index) + " (it has " +
                        std::to_string(device->ModelTemplate.GetCount()) + ")");
  }
  return modelTemplate;
}

// The model a user gets when binding a template to a new model.
FBModel* MakeModelFor(FBModelTemplate* modelTemplate) {
  const FBString prefix = modelTemplate->Prefix;
  const FBString label = prefix.IsEmpty() ? modelTemplate->GetLabelName() : prefix;
  FBModel* model = nullptr;
  switch (modelTemplate->Style.Get()) {
    case kFBModelTemplateRoot:
      model = new FBModelRoot(label);
      break;
    case kFBModelTemplateMarker:
      model = new FBModelMarker(label);
      break;
    case kFBModelTemplateSkeleton:
      model = new FBModelSkeleton(label);
      break;
    case kFBModelTemplateNull:
    case kFBModelTemplateDefault:
      model = new FBModelNull(label);
      break;
  }
  if (model == nullptr) model = new FBModelNull(label);  // a style outside the enumeration
  model->Show = true;
  return model;
}

}  // namespace

FBDevice* AddDevice(const std::string& entry, std::string* error) {
  return AddDeviceWith("Boxes/Devices", entry, nullptr, error);
}

FBDevice* AddDeviceWith(const std::string& group, const std::string& entry,
                        const std::function<void(FBDevice&)>& restore, std::string* error) {
  Registration registration;
  if (!FindRegistration(group, entry, &registration)) {
    SetError(error, "no device is registered as '" + entry + "' in \"" + group + "\"");
    return nullptr;
  }
  HIObject handle = nullptr;
  try {
    handle = registration.factory(CurrentScene()->GetHIObject(), entry.c_str(), nullptr);
  } catch (const std::exception& thrown) {
    SetError(error, "the factory of '" + entry + "' threw: " + thrown.what());
    return nullptr;
  } catch (...) {
    SetError(error, "the factory of '" + entry + "' threw");
    return nullptr;
  }
  FBComponent* component = FBGetFBObject(handle);
  if (component == nullptr) {
    SetError(error, "the factory of '" + entry + "' made no device");
    return nullptr;
  }
  if (!component->Is(FBDevice::TypeInfo)) {
    SetError(error, "the factory of '" + entry + "' made a '" + component->ClassName() +
                        "', not a device");
    component->FBDelete();
    return nullptr;
  }
  auto* device = static_cast<FBDevice*>(component);
  {
    auto& registry = fbhost_internal::Devices();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.entries.push_back(DeviceRegistry::Entry{device, 0, false});
  }
  device->SetObjectStatus(kFBStatusCreating, true);
  if (restore) {
    device->SetObjectStatus(kFBStatusRetrieving, true);
    restore(*device);
    device->SetObjectStatus(kFBStatusRetrieving, false);
  }
  device->DeviceOperation(kFBDeviceInitialize);
  device->SetObjectStatus(kFBStatusCreating, false);
  return device;
}

bool RemoveDevice(FBDevice* device, std::string* error) {
  if (device == nullptr || !fbhost_internal::BeginRemoval(device)) {
    SetError(error, "the device is not in the scene");
    return false;
  }
  fbhost_internal::ForgetRecordedDevice(device);
  if (device->Online.Stored()) device->Online = false;
  device->DeviceOperation(kFBDeviceShutDown);
  fbhost_internal::EndRemoval(device);
  device->FBDelete();
  return true;
}

std::vector<FBDevice*> Devices() {
  auto& registry = fbhost_internal::Devices();
  std::lock_guard<std::mutex> lock(registry.lock);
  std::vector<FBDevice*> devices;
  for (const auto& entry : registry.entries) {
    if (!entry.removing) devices.push_back(entry.device);
  }
  return devices;
}

bool SetDeviceOnline(FBDevice* device, bool online) {
  return device != nullptr && device->Online.Set(online);
}

bool RunDeviceOperation(FBDevice* device, int operation) {
  return device != nullptr && device->DeviceOperation(operation);
}

bool BindTemplate(FBDevice* device, int index, FBModel* model, std::string* error) {
  FBModelTemplate* modelTemplate = TemplateAt(device, index, error);
  if (modelTemplate == nullptr) return false;
  if (model == nullptr) model = MakeModelFor(modelTemplate);
  if (!modelTemplate->Model.Set(model)) {
    SetError(error, "model " + Quoted(model) + " is not in the scene");
    return false;
  }
  device->HostState().binds.fetch_add(1);
  return device->TemplateBindNotify(model, index, modelTemplate);
}

bool BindTemplateToLabel(FBDevice* device, int index, const std::string& label,
                         std::string* error) {
  if (TemplateAt(device, index, error) == nullptr) return false;
  FBModel* model = FBFindModelByLabelName(label.c_str());
  if (model == nullptr) {
    SetError(error, "no model is labelled '" + label + "' in the scene");
    return false;
  }
  return BindTemplate(device, index, model, error);
}

bool UnbindTemplate(FBDevice* device, int index, std::string* error) {
  FBModelTemplate* modelTemplate = TemplateAt(device, index, error);
  if (modelTemplate == nullptr) return false;
  modelTemplate->Model = nullptr;
  device->HostState().unbinds.fetch_add(1);
  return device->TemplateUnbindNotify(index, modelTemplate);
}

DeviceStatistics GetDeviceStatistics(const FBDevice* device) {
  DeviceStatistics stats;
  if (device == nullptr) return stats;
  auto& host = device->HostState();
  stats.samplesAcknowledged = host.acks.load();
  stats.inputCalls = host.inputCalls.load();
  stats.evaluationCalls = host.evaluationCalls.load();
  stats.evaluationTrueAnswers = host.evaluationTrue.load();
  stats.bindNotifications = host.binds.load();
  stats.unbindNotifications = host.unbinds.load();
  stats.recordingInits = host.recordingInits.load();
  stats.recordingDones = host.recordingDones.load();
  std::lock_guard<std::mutex> lock(host.lock);
  stats.baseOperations = host.baseOperations;
  stats.transportModes = host.transportModes;
  return stats;
}

}  // namespace fbhost
