// fbdevice.h: FBBox (an object with output animation nodes) and FBDevice
// (a box the host drives: operations, input, evaluation, binding, transport,
// recording), with the notify info of the input callback.
//
// Side of the boundary: SDK. Implemented in libfbsdk (runtime/src/fbdevice.cpp).
// The host drives devices through fbhost/devices.h and fbhost/engine.h.
//
// Life of a device in the host:
//   1. The host calls the factory registered in "Boxes/Devices" (the
//      factory constructs the device, sets mAllocated and
//      mRegisteredClassName, and calls FBCreate), adds the device to the
//      scene and runs DeviceOperation(kFBDeviceInitialize). While that runs
//      the device has the object status kFBStatusCreating.
//   2. The user switches Online on: the host runs DeviceOperation(
//      kFBDeviceStart) and Online becomes its answer. Switching it off runs
//      DeviceOperation(kFBDeviceStop) and Online becomes false whatever the
//      answer, as an online check box does.
//   3. While Online: the input thread calls SampleInputNotify every
//      SamplingPeriod; the evaluation thread calls NodeEvaluateNotify once
//      per pass and then carries the nodes of every bound template into its
//      model (fbmodeltemplate.h). The two threads run at the same time as
//      each other and as the UI thread.
//   4. The user binds a template (fbhost/devices.h): the host sets its Model
//      and calls TemplateBindNotify; unbinding clears Model and calls
//      TemplateUnbindNotify.
//   5. The transport (fbhost/engine.h) calls TransportStateNotify and, for a
//      device whose Recording flag is set, RecordingInitAnimation and
//      RecordingDoneAnimation for each recordable node of its templates.
//   6. Removing the device from the scene: Online off (if on), then
//      DeviceOperation(kFBDeviceShutDown), then FBDelete. The host waits
//      for any callback of the device on the input or evaluation thread to
//      return before step 6 begins, and calls none after.
//
// Threads of the callbacks (the "UI thread" is the thread of the host
// program's command loop, or of a test):
//   UI:          FBCreate, FBDestroy, DeviceOperation, FbxStore,
//                FbxRetrieve, TemplateBindNotify, TemplateUnbindNotify,
//                TransportStateNotify, RecordingInitAnimation,
//                RecordingDoneAnimation, the Online and Live setters.
//   input:       SampleInputNotify.
//   evaluation:  NodeEvaluateNotify.
// The host never holds a lock of its own while it calls a device, so a
// callback may call any host operation. Every callback is noexcept: an
// exception must not leave the plug-in.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "fbsdk/fbanimation.h"
#include "fbsdk/fbarray.h"
#include "fbsdk/fbcomponent.h"
#include "fbsdk/fbevent.h"
#include "fbsdk/fbfbxstore_fwd.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbmodeltemplate.h"
#include "fbsdk/fbplayercontrol.h"
#include "fbsdk/fbproperty.h"
#include "fbsdk/fbsdk_api.h"
#include "fbsdk/fbstring.h"
#include "fbsdk/fbtime.h"

namespace fbhost_internal {
struct DeviceHostState;
}

// The device operations the host runs. Other numbers reach a device only
// through fbhost::RunDeviceOperation.
enum FBDeviceOperation {
  kFBDeviceInitialize = 0,  // after creation (and after a scene load)
  kFBDeviceStart = 1,       // Online switched on
  kFBDeviceStop = 3,        // Online switched off
  kFBDeviceReset = 4,       // the user's reset command
  kFBDeviceShutDown = 5,    // before the device leaves the scene
};

// The action numbers of SampleInputNotify.
enum FBInputAction {
  kFBInputSample = 0,           // a regular sample while the transport is not recording
  kFBInputSampleRecording = 1,  // a sample while the transport records
};

// What the host tells a device at each input call. Made by the host; valid
// for the call.
class FBSDK_API FBDeviceNotifyInfo {
 public:
  FBDeviceNotifyInfo(FBTime localTime, FBTime systemTime) noexcept
      : mLocalTime(localTime), mSystemTime(systemTime) {}
  // The transport's time (the take's time line) at the call.
  FBTime GetLocalTime() const noexcept { return mLocalTime; }
  // The host clock's time at the call (FBSystem::SystemTime).
  FBTime GetSystemTime() const noexcept { return mSystemTime; }

 private:
  FBTime mLocalTime;
  FBTime mSystemTime;
};

class FBSDK_API FBBox : public FBComponent {
  FBClassDeclare(FBBox, FBComponent);

 public:
  explicit FBBox(const char* name, HIObject object = nullptr);
  // Deletes the box's nodes.
  ~FBBox() override;

  // Makes an output node owned by the box. userId: the caller's number for
  // it; name: kept whole; dataType: "Lcl Translation", "Lcl Rotation" or
  // any text. recordable: the host records the node (fbhost/engine.h).
  // minimum/maximum: three values each that WriteData clamps to, or null.
  // userData: the node carries the device's own data and is never carried
  // into a bound model. Answers the node; null when name or dataType is null.
  // UI thread.
  FBAnimationNode* AnimationNodeOutCreate(kULongLong userId, const char* name, const char* dataType,
                                          bool recordable = true, const double* minimum = nullptr,
                                          const double* maximum = nullptr, bool userData = false);
  // Deletes one of the box's nodes now (it leaves every list). False when
  // the box does not own it. UI thread, and only while no callback of the
  // device can reach the node.
  bool AnimationNodeDestroy(FBAnimationNode* node);
  // The number of nodes the box owns.
  int AnimationNodeOutCount() const;
  // Host side: whether the box owns the node and with which flags.
  bool OwnsNode(const FBAnimationNode* node, bool* recordable = nullptr,
                bool* userData = nullptr) const;

 private:
  struct OwnedNode {
    FBAnimationNode* node;
    bool recordable;
    bool userData;
  };
  mutable std::mutex mNodesLock;
  std::vector<OwnedNode> mNodes;
};

class FBSDK_API FBDevice : public FBBox {
  FBClassDeclare(FBDevice, FBBox);

 public:
  explicit FBDevice(const char* name, HIObject object = nullptr);
  ~FBDevice() override;

  // ---- operations the host calls (see the file comment for threads) ----

  // The base answers true.
  bool FBCreate() override;
  // The base does nothing; a device's override calls it last.
  void FBDestroy() override;

  // Runs operation `operation` (FBDeviceOperation, or any other number).
  // The base knows no operation: it records the call (fbhost::
  // DeviceStatistics::baseOperations) and answers false.
  virtual bool DeviceOperation(int operation) noexcept;

  // Scene store and retrieve, once per phase. The base answers true.
  virtual bool FbxStore(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept;
  virtual bool FbxRetrieve(FBFbxObject* fbxObject, kFbxObjectStore phase) noexcept;

  // Evaluation thread, once per evaluation pass while Online: write the
  // newest values into the output nodes. `node` is null (the whole box is
  // evaluated). The answer is recorded; the base answers false.
  virtual bool NodeEvaluateNotify(FBAnimationNode* node, FBEvaluateInfo* info) noexcept;

  // UI thread, while Online: the transport started (kFBTransportStart) or
  // stopped (kFBTransportStop); time is the transport's time. Base: nothing.
  virtual void TransportStateNotify(FBTransportMode mode, FBTime time) noexcept;

  // Input thread, every SamplingPeriod while Online. action: FBInputAction.
  // Base: nothing.
  virtual void SampleInputNotify(int action, FBDeviceNotifyInfo& info) noexcept;

  // Not called by this host; the base answers true.
  virtual bool DeviceEvaluationNotify(FBTransportMode mode, FBEvaluateInfo* info) noexcept;

  // UI thread, after the user bound the template at `index` of
  // ModelTemplate to `model` (the template's Model already reads it). The
  // answer is recorded; the base answers true.
  virtual bool TemplateBindNotify(FBModel* model, int index,
                                  FBModelTemplate* modelTemplate) noexcept;
  // UI thread, after the user unbound that template (Model reads null).
  // The base answers true.
  virtual bool TemplateUnbindNotify(int index, FBModelTemplate* modelTemplate) noexcept;

  // Not called by this host; the base answers false.
  virtual bool DeviceSendCommand(int command) noexcept;

  // UI thread, at the start of a recording, for each recordable node of the
  // device's templates. The base prepares the node's record target (see
  // FBAnimationNode::GetAnimationToRecord); an override calls it.
  virtual void RecordingInitAnimation(FBAnimationNode* node) noexcept;
  // UI thread, when that recording stops, for the same nodes. The base
  // clears the record target; an override calls it.
  virtual void RecordingDoneAnimation(FBAnimationNode* node) noexcept;

  // ---- services the device calls ----

  // Counts one sample taken in (fbhost::DeviceStatistics). Any thread.
  void AckOneSampleReceived() noexcept;

  // Appends to `models` the host's binding roots of this device: the bound
  // models of its top-level templates (ModelTemplate), then ModelBindingRoot,
  // each once, deleted ones never. UI thread.
  void ModelBindingRootsList(FBArrayTemplate<FBModel*>& models);

  // ---- properties (any thread may read them) ----

  FBPropertyString Status;        // one-line state, shown by the host
  FBPropertyString Information;   // more about the state, or the last error
  FBPropertyString Hardware;      // what the device talks to
  FBPropertyString IconFilename;  // the icon the host shows for the device
  // Whether the device is online. Assigning it is the user's check box:
  // true runs DeviceOperation(kFBDeviceStart) and keeps its answer (the
  // assignment answers it too); false runs DeviceOperation(kFBDeviceStop)
  // and keeps false. Assigning the value it already has does nothing. While
  // one of the two operations runs, an assignment only stores the value.
  // UI thread.
  FBPropertyBool Online;
  // Whether the device takes live samples; the device sets it. Every change
  // raises OnStateChange.
  FBPropertyBool Live;
  // The user's choice to record this device when the transport records.
  FBPropertyBool Recording;
  // How often the input thread calls SampleInputNotify; 1/60 s until set.
  // Values below 1 ms are taken as 1 ms.
  FBPropertyTime SamplingPeriod;
  // The device's top-level templates (usually one root).
  FBPropertyListModelTemplate ModelTemplate;
  // The model the device considers the root of its binding.
  FBPropertyModel ModelBindingRoot;
  // Raised after Online or Live changed, on the thread that changed it, with
  // the device as sender and no host lock held.
  FBPropertyEvent OnStateChange;

  // The registered class name of the device (the "FbxStorable/Device"
  // entry), set by the factory before the device is shared.
  FBString mRegisteredClassName;

  // Host side.
  fbhost_internal::DeviceHostState& HostState() const { return *mHostState; }

 private:
  bool SwitchOnline(bool online);
  std::unique_ptr<fbhost_internal::DeviceHostState> mHostState;
};
