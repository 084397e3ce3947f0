#include "test_device.h"

#include <algorithm>

namespace hosttest {
namespace {

HIObject CreateTestDevice(HIObject /*owner*/, const char* name, void* /*data*/) {
  auto* device = new TestDevice(name);
  device->mAllocated = true;
  device->mRegisteredClassName = "HostTestDevice";
  if (!device->FBCreate()) {
    device->FBDelete();
    return nullptr;
  }
  return device->GetHIObject();
}

enum ModelKind { kNull, kSkeleton, kMarker };

}  // namespace

SampleValues ValuesOfSample(int n) {
  SampleValues v;
  const double d = n;
  v.hipsT[0] = d;
  v.hipsT[1] = 2 * d;
  v.hipsT[2] = -d;
  v.hipsR[0] = d / 2;
  v.spineT[1] = 10;
  v.spineR[1] = d;
  v.marker[0] = d;
  v.marker[2] = 1;
  return v;
}

void TestDevice::Register() {
  static const bool registered =
      FBObject_Register("Boxes/Devices", kEntry, "host test device", CreateTestDevice, true, "") &&
      FBObject_Register("FbxStorable/Device", "HostTestDevice", "host test device",
                        CreateTestDevice, true, "");
  (void)registered;
}

TestDevice::TestDevice(const char* name) : FBDevice(name) {}

bool TestDevice::FBCreate() {
  FBDevice::FBCreate();
  IconFilename = "test.tif";
  return true;
}

void TestDevice::FBDestroy() {
  destroyed = true;
  FBDevice::FBDestroy();
}

bool TestDevice::DeviceOperation(int operation) noexcept {
  switch (operation) {
    case kFBDeviceInitialize:
      ++initCount;
      initSawCreating = GetObjectStatus(kFBStatusCreating);
      SamplingPeriod = FBTime(FBTime::kTicksPerSecond / 120);
      if (root == nullptr) BuildTemplates();
      Status = "Initialized";
      return true;
    case kFBDeviceStart:
      ++startCount;
      if (failStart) {
        Information = "Cannot start.";
        return false;
      }
      Live = true;
      Information = "Started";
      return true;
    case kFBDeviceStop:
      ++stopCount;
      Live = false;
      return true;
    case kFBDeviceShutDown:
      ++shutDownCount;
      Live = false;
      DeleteBoundModels();
      if (root != nullptr && root->Model.Get() != nullptr) root->Model.Get()->FBDelete();
      TearDownTemplates();
      return true;
    default:
      return FBDevice::DeviceOperation(operation);
  }
}

void TestDevice::BuildTemplates() {
  root = new FBModelTemplate("Test", "Device", kFBModelTemplateRoot);
  subject = new FBModelTemplate("Sub", "RootNode", kFBModelTemplateNull);
  marker = new FBModelTemplate("Sub", "Sub:M1", kFBModelTemplateMarker);
  hips = new FBModelTemplate("Sub", "Sub:Hips", kFBModelTemplateSkeleton);
  spine = new FBModelTemplate("Sub", "Sub:Spine", kFBModelTemplateSkeleton);
  loose = new FBModelTemplate("Sub", "Sub:Loose", kFBModelTemplateSkeleton);
  ModelTemplate.Add(root);
  root->Children.Add(subject);
  subject->Children.Add(marker);
  subject->Children.Add(hips);
  hips->Children.Add(spine);
  kULongLong id = 0;
  markerNode = AnimationNodeOutCreate(id++, "Sub:M1", kFBDataTypeTranslation);
  hipsT = AnimationNodeOutCreate(id++, "Sub:Hips_T", kFBDataTypeTranslation);
  hipsR = AnimationNodeOutCreate(id++, "Sub:Hips_R", kFBDataTypeRotation);
  spineT = AnimationNodeOutCreate(id++, "Sub:Spine_T", kFBDataTypeTranslation);
  spineR = AnimationNodeOutCreate(id++, "Sub:Spine_R", kFBDataTypeRotation);
  looseU = AnimationNodeOutCreate(id++, "Sub:Loose_U", kFBDataTypeTranslation, false, nullptr,
                                  nullptr, true);
  marker->AnimationNodes.Add(markerNode);
  hips->AnimationNodes.Add(hipsT);
  hips->AnimationNodes.Add(hipsR);
  spine->AnimationNodes.Add(spineT);
  spine->AnimationNodes.Add(spineR);
  loose->AnimationNodes.Add(looseU);
  hips->AnimationNodes.Add(looseU);
}

void TestDevice::TearDownTemplates() {
  if (root == nullptr) return;
  ModelTemplate.Remove(root);
  for (FBModelTemplate* t : {spine, hips, marker, subject, loose, root}) t->FBDelete();
  root = subject = marker = hips = spine = loose = nullptr;
  bound = false;
}

FBModel* TestDevice::ModelFor(FBModelTemplate* t, FBModel* parent, int kind) {
  FBModel* model = t->Model;
  if (model == nullptr) {
    const FBString label = t->GetLabelName();
    if (kind == kMarker) {
      auto* m = new FBModelMarker(label);
      m->Color = FBColor(0.3, 0.9, 1.0);
      m->ShadingMode = kFBModelShadingWire;
      model = m;
    } else if (kind == kSkeleton) {
      model = new FBModelSkeleton(label);
    } else {
      model = new FBModelNull(label);
    }
    model->Show = true;
    t->Model = model;
  }
  parent->Children.Add(model);
  return model;
}

void TestDevice::DeleteBoundModels() {
  for (FBModelTemplate* t : {spine, hips, marker, subject}) {
    if (t == nullptr) continue;
    if (FBModel* model = t->Model.Get()) model->FBDelete();
  }
}

bool TestDevice::TemplateBindNotify(FBModel* /*model*/, int /*index*/,
                                    FBModelTemplate* modelTemplate) noexcept {
  if (GetObjectStatus(kFBStatusCreating) || GetObjectStatus(kFBStatusDestroying)) return true;
  FBModel* rootModel = modelTemplate->Model;
  if (rootModel == nullptr || modelTemplate != root) return true;
  FBModel* subjectModel = ModelFor(subject, rootModel, kNull);
  ModelFor(marker, subjectModel, kMarker);
  FBModel* hipsModel = ModelFor(hips, subjectModel, kSkeleton);
  ModelFor(spine, hipsModel, kSkeleton);
  bound = true;
  Status = "bound";
  return true;
}

bool TestDevice::TemplateUnbindNotify(int /*index*/, FBModelTemplate* /*modelTemplate*/) noexcept {
  bound = false;
  return true;
}

void TestDevice::Key(FBAnimationNode* node, FBTime time) {
  double values[3];
  node->ReadData(values);
  FBAnimationNode* target = node->GetAnimationToRecord();
  (target != nullptr ? target : node)
      ->KeyAdd(time, values, kFBInterpolationCubic, kFBTangentModeAuto);
}

void TestDevice::SampleInputNotify(int action, FBDeviceNotifyInfo& info) noexcept {
  if (action != kFBInputSample && action != kFBInputSampleRecording) return;
  {
    std::lock_guard<std::mutex> lock(mLock);
    mActions.push_back(action);
  }
  if (!Live) return;
  const FBTime time = info.GetLocalTime();
  bool key = false;
  {
    std::lock_guard<std::mutex> lock(mLock);
    mCurrent = ValuesOfSample(++mSamples);
    key = Recording && mPlayer.IsRecording && mPlayer.IsPlaying;
    if (key) mKeyedTimes.push_back(time);
  }
  if (key) {
    // Write first so that the keys carry this sample, as an evaluation would.
    FBEvaluateInfo none(FBTime::Zero, time, 0);
    NodeEvaluateNotify(nullptr, &none);
    for (FBAnimationNode* node : {markerNode, hipsT, hipsR, spineT, spineR}) Key(node, time);
  }
  AckOneSampleReceived();
}

bool TestDevice::NodeEvaluateNotify(FBAnimationNode* /*node*/, FBEvaluateInfo* info) noexcept {
  if (!Live || !bound) return false;
  SampleValues v;
  {
    std::lock_guard<std::mutex> lock(mLock);
    v = mCurrent;
  }
  markerNode->WriteData(v.marker, info);
  hipsT->WriteData(v.hipsT, info);
  hipsR->WriteData(v.hipsR, info);
  spineT->WriteData(v.spineT, info);
  spineR->WriteData(v.spineR, info);
  const double userData[3] = {999, 999, 999};
  looseU->WriteData(userData, info);
  return true;
}

void TestDevice::TransportStateNotify(FBTransportMode mode, FBTime time) noexcept {
  std::lock_guard<std::mutex> lock(mLock);
  mModes.push_back(mode);
  mModeTimes.push_back(time);
  mTransportFlags.push_back(Flags{mPlayer.IsRecording, mPlayer.IsPlaying});
}

void TestDevice::RecordingInitAnimation(FBAnimationNode* node) noexcept {
  {
    std::lock_guard<std::mutex> lock(mLock);
    mInitFlags.push_back(Flags{mPlayer.IsRecording, mPlayer.IsPlaying});
  }
  FBSystem system;
  FBTake* take = system.CurrentTake;
  if (take != nullptr && take->GetCurrentLayer() != 0) take->SetCurrentLayer(0);
  FBDevice::RecordingInitAnimation(node);
}

int TestDevice::SampleCount() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mSamples;
}

std::vector<FBTime> TestDevice::KeyedTimes() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mKeyedTimes;
}

std::vector<int> TestDevice::TransportModes() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mModes;
}

std::vector<FBTime> TestDevice::TransportTimes() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mModeTimes;
}

std::vector<TestDevice::Flags> TestDevice::FlagsAtTransport() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mTransportFlags;
}

std::vector<TestDevice::Flags> TestDevice::FlagsAtRecordingInit() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mInitFlags;
}

std::vector<int> TestDevice::InputActions() const {
  std::lock_guard<std::mutex> lock(mLock);
  return mActions;
}

}  // namespace hosttest
