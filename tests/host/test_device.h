// test_device.h: a small device for the host's own tests. It builds a fixed
// template hierarchy, binds models below the model the user binds its root
// to, writes deterministic samples into its nodes, and records keys, using
// only the SDK a plug-in sees.
//
// Hierarchy (prefix / name / style):
//   root     "Test" / "Device"   root      (ModelTemplate[0])
//   subject  "Sub" / "RootNode"  null      child of root
//   marker   "Sub" / "Sub:M1"    marker    child of subject, node Sub:M1
//   hips     "Sub" / "Sub:Hips"  skeleton  child of subject, nodes Sub:Hips_T, Sub:Hips_R
//   spine    "Sub" / "Sub:Spine" skeleton  child of hips,    nodes Sub:Spine_T, Sub:Spine_R
//   loose    "Sub" / "Sub:Loose" skeleton  no parent; one userData node Sub:Loose_U
//
// Sample n (counted from 1) holds: hips translation (n, 2n, -n), hips
// rotation (n / 2, 0, 0), spine translation (0, 10, 0), spine rotation
// (0, n, 0), marker position (n, 0, 1). The userData node Sub:Loose_U always
// holds (999, 999, 999); it also hangs on the hips template, so a host that
// carried user data into models would move the hips model there.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "fbsdk/fbsdk.h"

namespace hosttest {

struct SampleValues {
  double hipsT[3] = {0, 0, 0};
  double hipsR[3] = {0, 0, 0};
  double spineT[3] = {0, 0, 0};
  double spineR[3] = {0, 0, 0};
  double marker[3] = {0, 0, 0};
};
SampleValues ValuesOfSample(int n);

class TestDevice : public FBDevice {
 public:
  static constexpr const char* kEntry = "Host Test Device";
  // Registers the factory in "Boxes/Devices" (once per process).
  static void Register();

  explicit TestDevice(const char* name);

  bool FBCreate() override;
  void FBDestroy() override;
  bool DeviceOperation(int operation) noexcept override;
  bool NodeEvaluateNotify(FBAnimationNode* node, FBEvaluateInfo* info) noexcept override;
  void SampleInputNotify(int action, FBDeviceNotifyInfo& info) noexcept override;
  void TransportStateNotify(FBTransportMode mode, FBTime time) noexcept override;
  bool TemplateBindNotify(FBModel* model, int index,
                          FBModelTemplate* modelTemplate) noexcept override;
  bool TemplateUnbindNotify(int index, FBModelTemplate* modelTemplate) noexcept override;
  void RecordingInitAnimation(FBAnimationNode* node) noexcept override;

  // Knobs the tests turn (any thread).
  std::atomic<bool> failStart{false};

  // What the tests read.
  FBModelTemplate* root = nullptr;
  FBModelTemplate* subject = nullptr;
  FBModelTemplate* marker = nullptr;
  FBModelTemplate* hips = nullptr;
  FBModelTemplate* spine = nullptr;
  FBModelTemplate* loose = nullptr;
  FBAnimationNode* markerNode = nullptr;
  FBAnimationNode* hipsT = nullptr;
  FBAnimationNode* hipsR = nullptr;
  FBAnimationNode* spineT = nullptr;
  FBAnimationNode* spineR = nullptr;
  FBAnimationNode* looseU = nullptr;
  std::atomic<bool> bound{false};
  std::atomic<bool> destroyed{false};
  std::atomic<int> startCount{0};
  std::atomic<int> stopCount{0};
  std::atomic<int> shutDownCount{0};
  std::atomic<int> initCount{0};
  std::atomic<bool> initSawCreating{false};
  // The player flags (IsRecording, IsPlaying) seen at each transport
  // notification and at each RecordingInitAnimation.
  struct Flags {
    bool recording;
    bool playing;
  };
  std::vector<Flags> FlagsAtTransport() const;
  std::vector<Flags> FlagsAtRecordingInit() const;
  std::vector<int> InputActions() const;

  int SampleCount() const;
  std::vector<FBTime> KeyedTimes() const;  // times of the samples keyed
  std::vector<int> TransportModes() const;
  std::vector<FBTime> TransportTimes() const;
  // Deletes the models below the root model (as a user deleting them would).
  void DeleteBoundModels();

 private:
  void BuildTemplates();
  void TearDownTemplates();
  FBModel* ModelFor(FBModelTemplate* t, FBModel* parent, int kind);
  void Key(FBAnimationNode* node, FBTime time);

  FBPlayerControl mPlayer;
  mutable std::mutex mLock;  // guards everything below
  SampleValues mCurrent;
  int mSamples = 0;
  std::vector<FBTime> mKeyedTimes;
  std::vector<int> mModes;
  std::vector<FBTime> mModeTimes;
  std::vector<Flags> mTransportFlags;
  std::vector<Flags> mInitFlags;
  std::vector<int> mActions;
};

}  // namespace hosttest
