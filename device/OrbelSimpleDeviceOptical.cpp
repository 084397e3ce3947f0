// The device object: type queries, creation and destruction, and the host
// operations initialise, start, stop, reset and shut down.
#include "OrbelSimpleDeviceOptical.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include <fbsdk/fbprogress.h>

#include "orbel_defaults.h"

namespace {

// Operation numbers the host passes to DeviceOperation.
constexpr int kOperationInitialize = 0;
constexpr int kOperationStart = 1;
constexpr int kOperationStop = 3;
constexpr int kOperationReset = 4;
constexpr int kOperationShutDown = 5;

constexpr int kConnectTimeoutSeconds = 5;
// How long a start waits for the server's first frame, and how often it asks.
constexpr std::chrono::milliseconds kFirstFrameWait{1000};
constexpr std::chrono::milliseconds kFirstFramePoll{5};
// 1/120 s, as the host reads a period given in seconds.
constexpr double kSamplingPeriodSeconds = 0.008333333333333333;
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionBuild = 60794;

constexpr const char* kIconFile = "devices_ltc.tif";
constexpr const char* kHardwareText = "Orbel Stream Plugin";

}  // namespace

OrbelSimpleDeviceOptical::OrbelSimpleDeviceOptical(const char* name) : FBDevice(name) {}

OrbelSimpleDeviceOptical::~OrbelSimpleDeviceOptical() = default;

// ---- type queries ----

const char* OrbelSimpleDeviceOptical::ClassName() { return "OrbelSimpleDeviceOptical"; }

int OrbelSimpleDeviceOptical::GetTypeId() { return gOrbelDeviceTypeInfo; }

bool OrbelSimpleDeviceOptical::Is(int typeId) {
  // The device's own bases are answered above; everything else is the
  // component's to answer, so the call skips the intermediate overrides.
  return typeId == gOrbelDeviceTypeInfo || typeId == FBDevice::TypeInfo ||
         typeId == FBBox::TypeInfo ||
         FBComponent::Is(typeId);  // NOLINT(bugprone-parent-virtual-call)
}

// ---- creation and destruction ----

void OrbelSimpleDeviceOptical::FBDelete() { FBComponent::FBDelete(); }

bool OrbelSimpleDeviceOptical::FBCreate() {
  try {
    FBDevice::FBCreate();
    IconFilename = kIconFile;
    mReader.reset();
    mSettingsFile.reset();
    mRestoredFromScene = false;
    mFirstBindPending = true;
    Prepare();
    return true;
  } catch (const std::exception&) {
    // Out of memory while making the reader or the settings file: the
    // factory deletes a device that refuses creation.
    return false;
  }
}

void OrbelSimpleDeviceOptical::FBDestroy() {
  // The host shuts a device down before it deletes it; one deleted without
  // that would strand its templates, which are host components.
  TeardownTemplates(true);
  mSettingsFile.reset();
  mReader.reset();
  FBDevice::FBDestroy();
}

void OrbelSimpleDeviceOptical::Prepare() {
  if (!mReader) mReader = std::make_unique<OrbelDataReader>();
  if (!mSettingsFile)
    mSettingsFile = std::make_unique<FBConfigFile>(kSettingsFileName, false, false);
  mSpanOpen = false;
  mSpanStartPending = false;
  mPaused = false;
  mStarted = false;
  mRootTemplate = nullptr;
  mRootTemplateIndex = -1;
}

// ---- host operations ----

bool OrbelSimpleDeviceOptical::DeviceOperation(int operation) noexcept {
  try {
    switch (operation) {
      case kOperationInitialize:
        return Initialize();
      case kOperationStart:
        return Start();
      case kOperationStop:
        return Stop();
      case kOperationReset:
        Status = "Resetting";
        Stop();
        return Start();
      case kOperationShutDown:
        return ShutDown();
      default:
        return FBDevice::DeviceOperation(operation);
    }
  } catch (const std::exception&) {
    // Only running out of memory can get here; the host must not see it.
    return false;
  }
}

bool OrbelSimpleDeviceOptical::TemplateUnbindNotify(int /*index*/,
                                                    FBModelTemplate* /*modelTemplate*/) noexcept {
  mModelBound = false;
  return true;
}

bool OrbelSimpleDeviceOptical::Initialize() {
  // A second initialise without a shut down in between would otherwise
  // strand the first hierarchy: the prepare step forgets the root, and the
  // maps would keep templates that no root reaches.
  if (mRootTemplate != nullptr) TeardownTemplates(true);

  Prepare();
  mNodeCounter = 0;
  SamplingPeriod = FBTime::FromSecondDouble(kSamplingPeriodSeconds);
  mReferenceTimeIndex = -1;

  FBProgress progress;
  progress.Caption = "Orbel Optical device";
  progress.Text = "Initializing device...";

  mModelBound = false;
  Hardware = kHardwareText;
  char version[64];
  std::snprintf(version, sizeof version, "Version: %d.%d.%d", kVersionMajor, kVersionMinor,
                kVersionBuild);
  mVersionText = version;
  Information = mVersionText;
  Status = "Initialized";

  // A restored device's address and port came from the scene.
  LoadSettings(!mRestoredFromScene);

  if (!mRestoredFromScene) {
    mRootTemplate = new FBModelTemplate("Orbel", "Optical", kFBModelTemplateRoot);
    mRootTemplateIndex = ModelTemplate.Add(mRootTemplate);
    return true;
  }

  BuildTemplateHierarchy();
  if (!mModelName.IsEmpty()) ModelBindingRoot = FBFindModelByLabelName(mModelName);
  return true;
}

bool OrbelSimpleDeviceOptical::Start() {
  FBProgress progress;
  progress.Caption = "Orbel Stream Device";
  progress.Text = "Connecting to device";

  if (!mReader) {
    Information = "Cannot access data reader.";
    return false;
  }
  const bool connected = mReader->ConnectToServer(kConnectTimeoutSeconds);
  // Options changed elsewhere since initialise (another device, the file)
  // apply from this start on; the address in use stays the reader's.
  LoadSettings(false);
  progress.Text = "Requesting information from server...";
  if (!connected) {
    Information = "Cannot connect to server.";
    return false;
  }
  if (!mReader->StreamOptionsApplied()) {
    Information = "Cannot read from server.";
    return false;
  }
  if (!mRestoredFromScene) Live = true;

  progress.Text = "Starting data stream...";
  if (!RequestFirstFrame()) {
    Information = "Could not put device in streaming mode";
    return false;
  }
  if (mUseTimecode && !mReader->ReadTimecodeStandard()) {
    Information = "Stream does not contain time code";
    return false;
  }

  Hardware = kHardwareText;
  Information = "Started";
  FBModel* bound = mRootTemplate != nullptr ? mRootTemplate->Model.Get() : nullptr;
  if (bound != nullptr) {
    Status = " ";
    ModelBindingRoot = bound;
  } else {
    Status = "Please perform model binding";
  }
  if (mUseTimecode) mReferenceTimeIndex = mReferenceTime.Add(kReferenceTimeName);

  mStarted = true;
  mRestoredFromScene = false;
  return true;
}

bool OrbelSimpleDeviceOptical::RequestFirstFrame() {
  // The settings just loaded ask the server for the data kinds again, and
  // the client takes no frame from before a kind it was told is on; a
  // single request made at once would then fail although the server
  // streams. The server is given a moment to send that frame.
  const auto deadline = std::chrono::steady_clock::now() + kFirstFrameWait;
  bool streaming = mReader->RequestFrame();
  while (!streaming && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kFirstFramePoll);
    streaming = mReader->RequestFrame();
  }
  return streaming;
}

bool OrbelSimpleDeviceOptical::Stop() {
  FBProgress progress;
  progress.Caption = "Optical device";
  progress.Text = "Stopping data stream...";

  Live = false;
  mSpanOpen = false;
  mSpanStartPending = false;
  const int index = mReferenceTimeIndex.exchange(-1);
  if (index >= 0) mReferenceTime.Remove(index);

  if (mReader && !mReader->DisconnectFromServer()) {
    Information = "Could not stop streaming";
    return false;
  }
  return true;
}

bool OrbelSimpleDeviceOptical::ShutDown() {
  Live = false;
  FBProgress progress;
  progress.Caption = "Orbel Optical device";
  progress.Text = "Shutting down device...";
  Status = "Shutting down";

  if (mReader) mReader->DisconnectFromServer();
  RemoveCreatedModels();
  TeardownTemplates(true);
  return true;
}

void OrbelSimpleDeviceOptical::TeardownTemplates(bool removeRoot) {
  if (mRootTemplate == nullptr) return;

  // The node writers walk the node maps on the evaluation thread. The host
  // calls no callback during a shut down, but a teardown must finish even
  // if the lock is not to be had, or the templates would leak.
  std::unique_ptr<OrbelDataReader::ScopedDataLock> lock;
  if (mReader) lock = std::make_unique<OrbelDataReader::ScopedDataLock>(*mReader);

  TemplateMap* const maps[] = {&mSegmentTemplates, &mMarkerTemplates, &mSubjectTemplates};
  for (TemplateMap* map : maps) {
    for (auto& entry : *map) entry.second->Children.RemoveAll();
  }
  mRootTemplate->Children.RemoveAll();
  for (TemplateMap* map : maps) {
    for (auto& entry : *map) entry.second->AnimationNodes.RemoveAll();
  }
  mRootTemplate->AnimationNodes.RemoveAll();

  // The nodes go with their templates. The box owns them, so they would
  // otherwise pile up in the device across shut downs and initialises.
  for (NodeMap* map : {&mTranslationNodes, &mRotationNodes, &mMarkerNodes}) {
    for (auto& entry : *map) AnimationNodeDestroy(entry.second);
    map->clear();
  }

  for (TemplateMap* map : maps) {
    for (auto& entry : *map) entry.second->FBDelete();
    map->clear();
  }

  if (removeRoot) {
    // Deleting the template takes it out of every list anyway; removing by
    // index first keeps the list's order as the device left it, but only
    // when the index still names this template.
    if (mRootTemplateIndex >= 0 && ModelTemplate[mRootTemplateIndex] == mRootTemplate) {
      ModelTemplate.RemoveAt(mRootTemplateIndex);
    }
    mRootTemplate->FBDelete();
    mRootTemplate = nullptr;
    mRootTemplateIndex = -1;
  }
}
