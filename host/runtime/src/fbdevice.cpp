#include "fbsdk/fbdevice.h"

#include <algorithm>
#include <string>

#include "fbhost/messages.h"
#include "fbsdk/fbtake.h"
#include "scene_state.h"

using fbhost_internal::DeviceHostState;
using fbhost_internal::ListAccess;

// ---- FBBox ----

FBClassImplementation(FBBox);

FBBox::FBBox(const char* name, HIObject object) : FBComponent(name, object) {}

FBBox::~FBBox() {
  std::vector<OwnedNode> nodes;
  {
    std::lock_guard<std::mutex> lock(mNodesLock);
    nodes.swap(mNodes);
  }
  for (const OwnedNode& owned : nodes) owned.node->FBDelete();
}

FBAnimationNode* FBBox::AnimationNodeOutCreate(kULongLong userId, const char* name,
                                               const char* dataType, bool recordable,
                                               const double* minimum, const double* maximum,
                                               bool userData) {
  if (name == nullptr || dataType == nullptr) return nullptr;
  auto* node = new FBAnimationNode(name, dataType, userId);
  node->mAllocated = true;
  node->SetRange(minimum, maximum);
  node->SetBoxFlags(recordable, userData);
  std::lock_guard<std::mutex> lock(mNodesLock);
  mNodes.push_back(OwnedNode{node, recordable, userData});
  return node;
}

bool FBBox::AnimationNodeDestroy(FBAnimationNode* node) {
  {
    std::lock_guard<std::mutex> lock(mNodesLock);
    const auto it = std::find_if(mNodes.begin(), mNodes.end(),
                                 [node](const OwnedNode& owned) { return owned.node == node; });
    if (it == mNodes.end()) return false;
    mNodes.erase(it);
  }
  node->FBDelete();
  return true;
}

int FBBox::AnimationNodeOutCount() const {
  std::lock_guard<std::mutex> lock(mNodesLock);
  return static_cast<int>(mNodes.size());
}

bool FBBox::OwnsNode(const FBAnimationNode* node, bool* recordable, bool* userData) const {
  std::lock_guard<std::mutex> lock(mNodesLock);
  for (const OwnedNode& owned : mNodes) {
    if (owned.node != node) continue;
    if (recordable != nullptr) *recordable = owned.recordable;
    if (userData != nullptr) *userData = owned.userData;
    return true;
  }
  return false;
}

// ---- FBDevice ----

FBClassImplementation(FBDevice);

namespace {

// A device deleted without fbhost::RemoveDevice may still be called by a
// host thread; take it out of the scene (waiting for those calls) first.
void LeaveSceneIfStillThere(FBDevice* device) {
  if (!fbhost_internal::BeginRemoval(device)) return;
  fbhost::ReportMessage(fbhost::MessageLevel::Warning,
                        "device '" + device->GetLabelName().str() +
                            "' was deleted while still in the scene; remove devices with "
                            "fbhost::RemoveDevice so that they can shut down first");
  fbhost_internal::ForgetRecordedDevice(device);
  fbhost_internal::EndRemoval(device);
}

}  // namespace

FBDevice::FBDevice(const char* name, HIObject object)
    : FBBox(name, object),
      SamplingPeriod(FBTime(FBTime::kTicksPerSecond / 60)),
      ModelTemplate(this, true),
      mHostState(std::make_unique<DeviceHostState>()) {
  Online.SetSetter([this](const bool& online) { return SwitchOnline(online); });
  Live.SetSetter([this](const bool& live) {
    bool changed = false;
    {
      std::lock_guard<std::mutex> lock(mHostState->liveLock);
      changed = Live.Stored() != live;
      Live.Store(live);
    }
    if (changed) OnStateChange.Fire(GetHIObject());
    return true;
  });
}

FBDevice::~FBDevice() { LeaveSceneIfStillThere(this); }

bool FBDevice::FBCreate() { return FBBox::FBCreate(); }

void FBDevice::FBDestroy() {
  LeaveSceneIfStillThere(this);
  FBBox::FBDestroy();
}

bool FBDevice::SwitchOnline(bool online) {
  DeviceHostState& host = *mHostState;
  // The device's own operation may set Online; then just keep the value.
  if (host.switchingOnline.exchange(true)) {
    Online.Store(online);
    return true;
  }
  const bool before = Online.Stored();
  bool answer = true;
  if (online != before) {
    if (online) {
      answer = DeviceOperation(kFBDeviceStart);
      Online.Store(answer);
    } else {
      answer = DeviceOperation(kFBDeviceStop);
      Online.Store(false);
    }
  }
  host.switchingOnline.store(false);
  if (Online.Stored() != before) OnStateChange.Fire(GetHIObject());
  return answer;
}

bool FBDevice::DeviceOperation(int operation) noexcept {
  std::lock_guard<std::mutex> lock(mHostState->lock);
  mHostState->baseOperations.push_back(operation);
  return false;
}

bool FBDevice::FbxStore(FBFbxObject* /*fbxObject*/, kFbxObjectStore /*phase*/) noexcept {
  return true;
}

bool FBDevice::FbxRetrieve(FBFbxObject* /*fbxObject*/, kFbxObjectStore /*phase*/) noexcept {
  return true;
}

bool FBDevice::NodeEvaluateNotify(FBAnimationNode* /*node*/, FBEvaluateInfo* /*info*/) noexcept {
  return false;
}

void FBDevice::TransportStateNotify(FBTransportMode /*mode*/, FBTime /*time*/) noexcept {}

void FBDevice::SampleInputNotify(int /*action*/, FBDeviceNotifyInfo& /*info*/) noexcept {}

bool FBDevice::DeviceEvaluationNotify(FBTransportMode /*mode*/, FBEvaluateInfo* /*info*/) noexcept {
  return true;
}

bool FBDevice::TemplateBindNotify(FBModel* /*model*/, int /*index*/,
                                  FBModelTemplate* /*modelTemplate*/) noexcept {
  return true;
}

bool FBDevice::TemplateUnbindNotify(int /*index*/, FBModelTemplate* /*modelTemplate*/) noexcept {
  return true;
}

bool FBDevice::DeviceSendCommand(int /*command*/) noexcept { return false; }

void FBDevice::RecordingInitAnimation(FBAnimationNode* node) noexcept {
  mHostState->recordingInits.fetch_add(1);
  if (node == nullptr) return;
  FBAnimationNode* target = nullptr;
  try {
    FBModelTemplate* modelTemplate = ListAccess::TemplateOf(node);
    FBModel* model = modelTemplate != nullptr ? modelTemplate->Model.Get() : nullptr;
    FBTake* take = fbhost_internal::Scene().currentTake.load();
    if (model != nullptr && take != nullptr) {
      target = take->RecordNode(model->GetLabelName().str(), node->GetDataType().str(), node);
      // The take keeps what it needs to be read without the model.
      take->NoteModel(model);
    }
  } catch (const std::exception& error) {
    // Out of memory: record onto the node itself.
    fbhost::ReportMessage(fbhost::MessageLevel::Error,
                          std::string("cannot prepare a recording: ") + error.what());
  }
  node->SetRecordTarget(target);
}

void FBDevice::RecordingDoneAnimation(FBAnimationNode* node) noexcept {
  mHostState->recordingDones.fetch_add(1);
  if (node != nullptr) node->SetRecordTarget(nullptr);
}

void FBDevice::AckOneSampleReceived() noexcept { mHostState->acks.fetch_add(1); }

void FBDevice::ModelBindingRootsList(FBArrayTemplate<FBModel*>& models) {
  std::lock_guard<std::recursive_mutex> lock(fbhost_internal::SceneLock());
  std::vector<FBModel*> roots;
  for (FBComponent* item : ListAccess::Items(ModelTemplate)) {
    FBModel* model = static_cast<FBModelTemplate*>(item)->Model.Get();
    if (model != nullptr && std::find(roots.begin(), roots.end(), model) == roots.end()) {
      roots.push_back(model);
    }
  }
  FBModel* root = ModelBindingRoot.Get();
  if (root != nullptr && std::find(roots.begin(), roots.end(), root) == roots.end()) {
    roots.push_back(root);
  }
  for (FBModel* model : roots) models.Add(model);
}
