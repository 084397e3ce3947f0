// Devices in the host: creation by label, the online switch, binding,
// evaluation carrying nodes into models, input, the transport and
// recording, and removal leaving nothing behind. Manual steps and a manual
// clock keep every check exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fbhost/clock.h"
#include "fbhost/components.h"
#include "fbhost/devices.h"
#include "fbhost/engine.h"
#include "fbhost/messages.h"
#include "fbhost/scene.h"
#include "test_device.h"

namespace {

using hosttest::TestDevice;
using hosttest::ValuesOfSample;

FBTime Ms(long long ms) { return FBTime::FromMilliSeconds(ms); }
FBVector3<double> V(const double* v) { return FBVector3<double>(v); }

class DeviceHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestDevice::Register();
    fbhost::SetMessageEcho(false);
    fbhost::ResetScene();
    mLive = fbhost::LiveComponentCount();
    mAllocations = fbhost::OutstandingComponentAllocations();
  }
  void TearDown() override { fbhost::ResetScene(); }

  TestDevice* Add() {
    std::string error;
    FBDevice* device = fbhost::AddDevice(TestDevice::kEntry, &error);
    EXPECT_NE(device, nullptr) << error;
    return static_cast<TestDevice*>(device);
  }
  // A device online and bound to a new root model.
  TestDevice* AddBound() {
    TestDevice* device = Add();
    EXPECT_TRUE(fbhost::SetDeviceOnline(device, true));
    std::string error;
    EXPECT_TRUE(fbhost::BindTemplate(device, 0, nullptr, &error)) << error;
    return device;
  }

  fbhost::ManualClock mClock{Ms(1000)};
  fbhost::ScopedClock mScopedClock{mClock};
  std::int64_t mLive = 0;
  std::int64_t mAllocations = 0;
};

TEST_F(DeviceHostTest, AddingByLabelInitialisesTheDeviceWhileCreating) {
  std::string error;
  EXPECT_EQ(fbhost::AddDevice("No Such Device", &error), nullptr);
  EXPECT_NE(error.find("'No Such Device'"), std::string::npos) << error;

  TestDevice* device = Add();
  EXPECT_EQ(device->initCount.load(), 1);
  EXPECT_TRUE(device->initSawCreating.load());
  EXPECT_FALSE(device->GetObjectStatus(kFBStatusCreating));
  EXPECT_EQ(device->mRegisteredClassName, "HostTestDevice");
  EXPECT_EQ(fbhost::Devices(), std::vector<FBDevice*>{device});
  EXPECT_FALSE(device->Online.Get());
}

TEST_F(DeviceHostTest, ASceneLoadRestoresTheDeviceBeforeInitialising) {
  std::string error;
  EXPECT_EQ(fbhost::AddDeviceWith("FbxStorable/Device", "NoSuchClass", nullptr, &error), nullptr);
  EXPECT_NE(error.find("'NoSuchClass'"), std::string::npos) << error;

  int restores = 0;
  FBDevice* device = fbhost::AddDeviceWith(
      "FbxStorable/Device", "HostTestDevice",
      [&restores](FBDevice& restored) {
        ++restores;
        EXPECT_TRUE(restored.GetObjectStatus(kFBStatusRetrieving));
        EXPECT_TRUE(restored.GetObjectStatus(kFBStatusCreating));
        EXPECT_EQ(static_cast<TestDevice&>(restored).initCount.load(), 0);
      },
      &error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_EQ(restores, 1);
  EXPECT_EQ(static_cast<TestDevice*>(device)->initCount.load(), 1);
  EXPECT_TRUE(device->GetObjectStatus(kFBStatusNone));
  EXPECT_EQ(fbhost::Devices(), std::vector<FBDevice*>{device});
}

TEST_F(DeviceHostTest, TheOnlineSwitchRunsStartAndStop) {
  struct Case {
    const char* name;
    bool failStart;
    bool online;  // after switching on
    bool live;
  };
  for (const Case& c :
       {Case{"start succeeds", false, true, true}, Case{"start fails", true, false, false}}) {
    SCOPED_TRACE(c.name);
    TestDevice* device = Add();
    device->failStart = c.failStart;
    int stateChanges = 0;
    device->OnStateChange.Add(this, [&stateChanges](HISender, HKEvent) { ++stateChanges; });

    EXPECT_EQ(fbhost::SetDeviceOnline(device, true), c.online);
    EXPECT_EQ(device->Online.Get(), c.online);
    EXPECT_EQ(device->Live.Get(), c.live);
    EXPECT_EQ(device->startCount.load(), 1);
    EXPECT_EQ(stateChanges, c.online ? 2 : 0) << "Live and Online each changed once";

    // Switching to the value it has runs nothing.
    device->Online = c.online;
    EXPECT_EQ(device->startCount.load() + device->stopCount.load(), 1);

    device->Online = false;
    EXPECT_FALSE(device->Online.Get());
    EXPECT_EQ(device->stopCount.load(), c.online ? 1 : 0);
    device->OnStateChange.RemoveAll(this);
    EXPECT_TRUE(fbhost::RemoveDevice(device));
  }
}

TEST_F(DeviceHostTest, UnknownOperationsReachTheBase) {
  TestDevice* device = Add();
  for (int operation : {2, 6, -1}) {
    SCOPED_TRACE(operation);
    EXPECT_FALSE(fbhost::RunDeviceOperation(device, operation));
  }
  EXPECT_TRUE(fbhost::RunDeviceOperation(device, kFBDeviceReset) == false);
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).baseOperations,
            (std::vector<int>{2, 6, -1, kFBDeviceReset}));
}

TEST_F(DeviceHostTest, BindingANewModelFollowsTheTemplateAndNotifiesTheDevice) {
  TestDevice* device = Add();
  std::string error;
  EXPECT_FALSE(fbhost::BindTemplate(device, 1, nullptr, &error));
  EXPECT_NE(error.find("index 1"), std::string::npos) << error;
  EXPECT_FALSE(fbhost::BindTemplateToLabel(device, 0, "Nowhere", &error));
  EXPECT_NE(error.find("'Nowhere'"), std::string::npos) << error;
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).bindNotifications, 0);

  ASSERT_TRUE(fbhost::BindTemplate(device, 0, nullptr, &error)) << error;
  FBModel* root = device->root->Model;
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(root->Is(FBModelRoot::TypeInfo));
  EXPECT_EQ(root->GetLabelName(), "Test") << "labelled with the template's prefix";
  EXPECT_TRUE(root->Show.Get());
  EXPECT_TRUE(device->bound.load());
  FBModel* hips = device->hips->Model;
  ASSERT_NE(hips, nullptr);
  EXPECT_EQ(hips->GetParent(), device->subject->Model.Get());
  EXPECT_EQ(device->spine->Model.Get()->GetParent(), hips);

  // Binding again, to the existing model by its label.
  ASSERT_TRUE(fbhost::BindTemplateToLabel(device, 0, "Test", &error)) << error;
  EXPECT_EQ(device->root->Model.Get(), root);
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).bindNotifications, 2);

  FBArrayTemplate<FBModel*> roots;
  device->ModelBindingRoot = root;
  device->ModelBindingRootsList(roots);
  EXPECT_EQ(roots.GetCount(), 1) << "each root once";
  EXPECT_EQ(roots[0], root);

  ASSERT_TRUE(fbhost::UnbindTemplate(device, 0, &error)) << error;
  EXPECT_EQ(device->root->Model.Get(), nullptr);
  EXPECT_FALSE(device->bound.load());
  roots.Clear();
  device->ModelBindingRootsList(roots);
  EXPECT_EQ(roots.GetCount(), 1) << "the binding root property still names it";
  root->FBDelete();
  roots.Clear();
  device->ModelBindingRootsList(roots);
  EXPECT_EQ(roots.GetCount(), 0) << "a deleted model is never listed";
}

TEST_F(DeviceHostTest, EvaluationCarriesWrittenNodesIntoBoundModels) {
  TestDevice* device = AddBound();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(fbhost::StepInput(), 1);
  EXPECT_EQ(fbhost::StepEvaluation(), 1);

  const auto sample = ValuesOfSample(3);
  EXPECT_EQ(device->hips->Model.Get()->Translation.Get(), V(sample.hipsT))
      << "user-data nodes are never carried";
  EXPECT_EQ(device->hips->Model.Get()->Rotation.Get(), V(sample.hipsR));
  EXPECT_EQ(device->spine->Model.Get()->Translation.Get(), V(sample.spineT));
  EXPECT_EQ(device->spine->Model.Get()->Rotation.Get(), V(sample.spineR));
  EXPECT_EQ(device->marker->Model.Get()->Translation.Get(), V(sample.marker));
  EXPECT_EQ(device->subject->Model.Get()->Translation.Get(), FBVector3<double>())
      << "a template without nodes leaves its model alone";

  const auto stats = fbhost::GetDeviceStatistics(device);
  EXPECT_EQ(stats.inputCalls, 3);
  EXPECT_EQ(stats.samplesAcknowledged, 3);
  EXPECT_EQ(stats.evaluationCalls, 1);
  EXPECT_EQ(stats.evaluationTrueAnswers, 1);

  // An offline device is neither sampled nor evaluated.
  device->Online = false;
  EXPECT_EQ(fbhost::StepInput(), 0);
  EXPECT_EQ(fbhost::StepEvaluation(), 0);
  EXPECT_FALSE(fbhost::NotifySampleInput(device, kFBInputSample));
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).inputCalls, 3);
}

TEST_F(DeviceHostTest, AModelDeletedUnderABoundTemplateIsNotTouched) {
  TestDevice* device = AddBound();
  device->DeleteBoundModels();
  EXPECT_EQ(device->hips->Model.Get(), nullptr);
  fbhost::StepInput();
  EXPECT_EQ(fbhost::StepEvaluation(), 1);  // nothing to carry into, nothing breaks
  // Binding again makes fresh models, which then move.
  ASSERT_TRUE(fbhost::BindTemplateToLabel(device, 0, "Test"));
  fbhost::StepEvaluation();
  EXPECT_EQ(device->hips->Model.Get()->Translation.Get(), V(ValuesOfSample(1).hipsT));
}

TEST_F(DeviceHostTest, RecordingKeysEverySampleAtItsTimeInLayerZero) {
  TestDevice* device = AddBound();
  device->Recording = true;
  FBTake* take = fbhost::CurrentTake();
  take->CreateNewLayer();
  take->CreateNewLayer();
  take->SetCurrentLayer(2);
  ASSERT_TRUE(fbhost::TransportSetTime(Ms(500)));

  ASSERT_TRUE(fbhost::TransportRecord());
  EXPECT_FALSE(fbhost::TransportRecord()) << "already running";
  EXPECT_TRUE(fbhost::TransportRecording());
  EXPECT_EQ(take->GetCurrentLayer(), 0);
  constexpr int kSamples = 25;
  for (int i = 0; i < kSamples; ++i) {
    mClock.AdvanceMilliSeconds(10);
    fbhost::StepInput();
  }
  mClock.AdvanceMilliSeconds(5);
  ASSERT_TRUE(fbhost::TransportStop());
  EXPECT_FALSE(fbhost::TransportStop());

  EXPECT_EQ(device->TransportModes(), (std::vector<int>{kFBTransportStart, kFBTransportStop}));
  EXPECT_EQ(device->TransportTimes(), (std::vector<FBTime>{Ms(500), Ms(755)}));
  EXPECT_EQ(fbhost::TransportTime(), Ms(755));
  for (const auto& flags : device->FlagsAtRecordingInit()) {
    EXPECT_TRUE(flags.recording);
    EXPECT_FALSE(flags.playing);
  }
  const auto atTransport = device->FlagsAtTransport();
  ASSERT_EQ(atTransport.size(), 2u);
  EXPECT_TRUE(atTransport[0].recording && !atTransport[0].playing) << "start";
  EXPECT_TRUE(atTransport[1].recording && !atTransport[1].playing) << "stop";
  const auto actions = device->InputActions();
  EXPECT_TRUE(std::all_of(actions.begin(), actions.end(),
                          [](int a) { return a == kFBInputSampleRecording; }));

  const auto stats = fbhost::GetDeviceStatistics(device);
  EXPECT_EQ(stats.recordingInits, 5) << "the user-data node is not recordable";
  EXPECT_EQ(stats.recordingDones, 5);
  EXPECT_EQ(device->hipsT->GetAnimationToRecord(), nullptr) << "cleared when done";

  // One curve per bound model and data type, in layer 0, one key per sample.
  struct Expected {
    const char* curve;
    double (hosttest::SampleValues::*values)[3];
  };
  const Expected expected[] = {
      {"Sub:Hips Lcl Translation", &hosttest::SampleValues::hipsT},
      {"Sub:Hips Lcl Rotation", &hosttest::SampleValues::hipsR},
      {"Sub:Spine Lcl Translation", &hosttest::SampleValues::spineT},
      {"Sub:Spine Lcl Rotation", &hosttest::SampleValues::spineR},
      {"Sub:M1 Lcl Translation", &hosttest::SampleValues::marker},
  };
  const auto curves = take->GetCurves();
  ASSERT_EQ(curves.size(), std::size(expected));
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.curve);
    const auto curve = std::find_if(curves.begin(), curves.end(),
                                    [&e](const FBTakeCurve& c) { return c.nodeName == e.curve; });
    ASSERT_NE(curve, curves.end());
    EXPECT_EQ(curve->layer, 0);
    ASSERT_EQ(curve->keyCount, kSamples);
    // The curve's node answers the keys; find it through a fresh record start.
  }
  // Key times and values, through the record node of the hips translation.
  FBAnimationNode* target = take->RecordNode("Sub:Hips", "Lcl Translation");
  const auto keys = take->GetKeys(target, 0);
  ASSERT_EQ(keys.size(), static_cast<std::size_t>(kSamples));
  for (int i = 0; i < kSamples; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(keys[i].time, Ms(500 + 10 * (i + 1)));
    EXPECT_EQ(V(keys[i].value), V(ValuesOfSample(i + 1).hipsT));
    EXPECT_EQ(keys[i].interpolation, kFBInterpolationCubic);
  }
  EXPECT_EQ(take->LocalTimeSpan.Get(), FBTimeSpan(FBTime::Zero, Ms(10000)))
      << "the host never changes a take's span by itself";
}

TEST_F(DeviceHostTest, PlayingStartsAndStopsWithoutRecording) {
  TestDevice* device = AddBound();
  device->Recording = true;
  ASSERT_TRUE(fbhost::TransportPlay());
  mClock.AdvanceMilliSeconds(10);
  fbhost::StepInput();
  ASSERT_TRUE(fbhost::TransportStop());
  EXPECT_EQ(device->TransportModes(), (std::vector<int>{kFBTransportStart, kFBTransportStop}));
  EXPECT_TRUE(device->KeyedTimes().empty());
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).recordingInits, 0);
  EXPECT_TRUE(fbhost::CurrentTake()->GetCurves().empty());
  EXPECT_EQ(device->InputActions(), std::vector<int>{kFBInputSample});
}

TEST_F(DeviceHostTest, RemovingADeviceLeavesNothingBehind) {
  {
    TestDevice* device = AddBound();
    device->Recording = true;
    ASSERT_TRUE(fbhost::TransportRecord());
    fbhost::StepInput();
    fbhost::StepEvaluation();
    EXPECT_TRUE(fbhost::RemoveDevice(device));  // while recording
    EXPECT_TRUE(fbhost::TransportStop());
  }
  EXPECT_TRUE(fbhost::Devices().empty());
  EXPECT_FALSE(fbhost::RemoveDevice(nullptr));
  // The recorded take keeps its record nodes until the scene is reset.
  fbhost::ResetScene();
  EXPECT_EQ(fbhost::LiveComponentCount(), mLive);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), mAllocations);
}

TEST_F(DeviceHostTest, ShutDownRunsBeforeTheDeviceIsFreed) {
  TestDevice* device = AddBound();
  const int models = static_cast<int>(fbhost::SceneModels().size());
  EXPECT_EQ(models, 5);
  EXPECT_TRUE(fbhost::RemoveDevice(device));
  EXPECT_TRUE(fbhost::SceneModels().empty());
  EXPECT_EQ(fbhost::LiveComponentCount(), mLive);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), mAllocations);
}

TEST_F(DeviceHostTest, DeletingADeviceStillInTheSceneIsReportedAndSafe) {
  fbhost::ClearMessages();
  TestDevice* device = AddBound();
  device->Online = false;
  device->DeviceOperation(kFBDeviceShutDown);
  device->FBDelete();
  EXPECT_TRUE(fbhost::Devices().empty());
  const auto messages = fbhost::Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("'Host Test Device'"), std::string::npos) << messages[0].text;
  EXPECT_EQ(fbhost::StepInput(), 0);
}

}  // namespace
