// fbhost/devices.h: devices in the scene, as the user handles them: add one
// by its registered label, switch it online, bind its templates, reset and
// remove it; and what the host counted about each.
//
// Side of the boundary: host runtime. Link fbsdk::runtime.
//
// Every function runs on the UI thread (the host program's command loop, or
// a test) and calls into the device on that thread, with no host lock held.
// Functions that can fail answer false (or null) and, when given an error
// text, fill it with a message that quotes the bad input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fbsdk/fbdevice.h"
#include "fbsdk/fbmodel.h"
#include "fbsdk/fbsdk_api.h"

namespace fbhost {

// Creates a device through the factory registered as `entry` in the group
// "Boxes/Devices", adds it to the scene and runs its initialise operation
// (kFBDeviceInitialize) with the object status kFBStatusCreating set.
// Null when nothing is registered under that label, when the factory made
// nothing, or when what it made is no FBDevice (it is deleted again).
FBSDK_API FBDevice* AddDevice(const std::string& entry, std::string* error = nullptr);

// Adds a device as a scene load does: through the factory registered as
// `entry` in `group` (a scene names the class it stored, registered in
// "FbxStorable/Device"), then `restore(device)` (the loader's FbxRetrieve
// calls) with the object statuses kFBStatusCreating and kFBStatusRetrieving
// set, then the initialise operation with kFBStatusCreating still set. The
// device is in the scene from the moment the factory made it. Null as for
// AddDevice.
FBSDK_API FBDevice* AddDeviceWith(const std::string& group, const std::string& entry,
                                  const std::function<void(FBDevice&)>& restore,
                                  std::string* error = nullptr);

// Removes a device of the scene: waits until no input or evaluation
// callback of it is running and starts none after; finishes its part of a
// recording (RecordingDoneAnimation); switches it offline if online; runs
// kFBDeviceShutDown; FBDelete. False when the device is not in the scene.
FBSDK_API bool RemoveDevice(FBDevice* device, std::string* error = nullptr);

// The scene's devices, in the order they were added.
FBSDK_API std::vector<FBDevice*> Devices();

// The online check box: the same as `device->Online = online`. Answers the
// operation's answer (true when nothing had to change).
FBSDK_API bool SetDeviceOnline(FBDevice* device, bool online);

// Runs any device operation, as a host menu would (kFBDeviceReset is the
// user's reset command). Answers the device's answer.
FBSDK_API bool RunDeviceOperation(FBDevice* device, int operation);

// The user's bind: binds the device's top-level template at `index` to
// `model`, or, when model is null, to a new model made for it (its class
// follows the template's style: FBModelRoot for kFBModelTemplateRoot,
// FBModelNull for kFBModelTemplateNull and kFBModelTemplateDefault,
// FBModelMarker, FBModelSkeleton; labelled with the template's prefix, or
// with its label name when the prefix is empty), then calls
// TemplateBindNotify(model, index, template). Answers the notification's
// answer; false with an error for an index that names no template or a
// device not in the scene.
FBSDK_API bool BindTemplate(FBDevice* device, int index, FBModel* model,
                            std::string* error = nullptr);
// The same with the existing model found by label name; false with an
// error when no model has that label.
FBSDK_API bool BindTemplateToLabel(FBDevice* device, int index, const std::string& label,
                                   std::string* error = nullptr);
// Unbinds the template at `index` (Model := null) and calls
// TemplateUnbindNotify(index, template). False with an error for an index
// that names no template.
FBSDK_API bool UnbindTemplate(FBDevice* device, int index, std::string* error = nullptr);

// What the host counted for one device since it was made.
struct DeviceStatistics {
  std::int64_t samplesAcknowledged = 0;  // AckOneSampleReceived calls
  std::int64_t inputCalls = 0;           // SampleInputNotify calls
  std::int64_t evaluationCalls = 0;      // NodeEvaluateNotify calls
  std::int64_t evaluationTrueAnswers = 0;
  std::vector<int> baseOperations;  // operations that reached FBDevice::DeviceOperation
  std::vector<int> transportModes;  // TransportStateNotify modes, in order
  std::int64_t bindNotifications = 0;
  std::int64_t unbindNotifications = 0;
  std::int64_t recordingInits = 0;  // base RecordingInitAnimation calls
  std::int64_t recordingDones = 0;  // base RecordingDoneAnimation calls
};
// Any thread.
FBSDK_API DeviceStatistics GetDeviceStatistics(const FBDevice* device);

}  // namespace fbhost
