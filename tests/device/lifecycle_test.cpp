// The device's life through the host: the factory, initialise, start, stop,
// reset and shut down, against a capture server in this process.
#include <algorithm>

#include <fbsdk/fbmodel.h>

#include "device_fixture.h"
#include "orbel_defaults.h"

namespace orbel::device_testing {
namespace {

using ProgressKind = fbhost::ProgressEvent::Kind;

// The (caption, text) steps of every progress box since the last clear.
std::vector<std::pair<std::string, std::string>> ProgressSteps() {
  std::vector<std::pair<std::string, std::string>> steps;
  for (const fbhost::ProgressEvent& event : fbhost::ProgressRecord()) {
    if (event.kind == ProgressKind::Text) steps.emplace_back(event.caption, event.text);
  }
  return steps;
}

class LifecycleTest : public DeviceTest {};

TEST_F(LifecycleTest, FactoryMakesAnInitialisedDevice) {
  Serve("alice_bob.json");
  fbhost::ClearProgressRecord();
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);

  EXPECT_EQ(device->mRegisteredClassName, "OrbelDeviceOptical");
  EXPECT_STREQ(device->ClassName(), "OrbelSimpleDeviceOptical");
  EXPECT_EQ(device->GetTypeId(), gOrbelDeviceTypeInfo);
  for (int type : {gOrbelDeviceTypeInfo, FBDevice::TypeInfo, FBBox::TypeInfo, FBComponent::TypeInfo,
                   FBPlug::TypeInfo}) {
    EXPECT_TRUE(device->Is(type)) << type;
  }
  EXPECT_FALSE(device->Is(FBModel::TypeInfo));
  EXPECT_FALSE(device->Is(gOrbelLayoutTypeInfo));

  EXPECT_EQ(device->IconFilename.Get(), "devices_ltc.tif");
  EXPECT_EQ(device->Hardware.Get(), "Orbel Stream Plugin");
  EXPECT_EQ(device->Information.Get(), "Version: 1.0.60794");
  EXPECT_EQ(device->Status.Get(), "Initialized");
  EXPECT_EQ(device->SamplingPeriod.Get(), FBTime::FromSecondDouble(1.0 / 120.0));
  EXPECT_FALSE(device->Started());

  ASSERT_EQ(device->ModelTemplate.GetCount(), 1);
  FBModelTemplate* root = device->ModelTemplate[0];
  EXPECT_EQ(root, Access::RootTemplate(*device));
  EXPECT_EQ(Access::RootTemplateIndex(*device), 0);
  EXPECT_EQ(root->Prefix.Get(), "Orbel");
  EXPECT_EQ(root->GetLabelName(), "Optical");
  EXPECT_EQ(root->Style.Get(), kFBModelTemplateRoot);
  EXPECT_EQ(root->Children.GetCount(), 0);

  const auto steps = ProgressSteps();
  const std::pair<std::string, std::string> initialising{"Orbel Optical device",
                                                         "Initializing device..."};
  EXPECT_NE(std::find(steps.begin(), steps.end(), initialising), steps.end());
}

TEST_F(LifecycleTest, StartConnectsGoesLiveAndAsksForBinding) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  fbhost::ClearProgressRecord();

  ASSERT_TRUE(GoOnline(device));
  EXPECT_TRUE(device->Online.Get());
  EXPECT_TRUE(device->Live.Get());
  EXPECT_TRUE(device->Started());
  EXPECT_EQ(device->Information.Get(), "Started");
  EXPECT_EQ(device->Hardware.Get(), "Orbel Stream Plugin");
  EXPECT_EQ(device->Status.Get(), "Please perform model binding");

  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Orbel Stream Device", "Connecting to device"},
      {"Orbel Stream Device", "Requesting information from server..."},
      {"Orbel Stream Device", "Starting data stream..."}};
  EXPECT_EQ(ProgressSteps(), expected);
}

TEST_F(LifecycleTest, StatusAfterStartWithBoundRootIsOneSpace) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  // The host's part of a bind: the root template's model is set.
  auto* model = new FBModelRoot("Stage");
  Access::RootTemplate(*device)->Model = model;

  ASSERT_TRUE(GoOnline(device));
  EXPECT_EQ(device->Status.Get(), " ");
  EXPECT_EQ(device->ModelBindingRoot.Get(), model);
}

TEST_F(LifecycleTest, UnreachableServerFailsToConnect) {
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetHostPort(std::to_string(ClosedPort()).c_str());
  // Connect-loop time moves only when the reader sleeps, so the five
  // seconds of retries pass at once.
  std::int64_t nowMs = 0;
  int sleeps = 0;
  Access::Reader(*device)->SetConnectClock(OrbelReaderClock{[&nowMs] { return nowMs; },
                                                            [&](std::uint32_t ms) {
                                                              nowMs += ms;
                                                              ++sleeps;
                                                            }});

  EXPECT_FALSE(GoOnline(device));
  EXPECT_FALSE(device->Online.Get());
  EXPECT_FALSE(device->Live.Get());
  EXPECT_FALSE(device->Started());
  EXPECT_EQ(device->Information.Get(), "Cannot connect to server.");
  EXPECT_EQ(sleeps, 26);
}

TEST_F(LifecycleTest, OtherOperationNumbersGoToTheHostBase) {
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  const std::vector<int> numbers = {2, 6, 42, -1};
  for (int number : numbers) {
    EXPECT_FALSE(fbhost::RunDeviceOperation(device, number)) << number;
  }
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).baseOperations, numbers);
}

// With timecode off a start adds no reference time and a stop removes
// none; with it on, the start adds "OrbelOpticalTimecode" and the stop
// removes it.
TEST_F(LifecycleTest, ReferenceTimeOnlyWithTimecode) {
  Serve("timecode_pal.json");
  for (bool useTimecode : {false, true}) {
    SCOPED_TRACE(useTimecode ? "timecode on" : "timecode off");
    fbhost::ResetScene();
    OrbelSimpleDeviceOptical* device = AddDevice();
    ASSERT_NE(device, nullptr);
    device->SetUseTimecode(useTimecode);

    ASSERT_TRUE(GoOnline(device));
    const auto added = fbhost::ReferenceTimes();
    EXPECT_TRUE(fbhost::SetDeviceOnline(device, false));
    const auto afterStop = fbhost::ReferenceTimes();
    if (!useTimecode) {
      EXPECT_TRUE(added.empty());
      EXPECT_TRUE(afterStop.empty());
      continue;
    }
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].name, "OrbelOpticalTimecode");
    EXPECT_FALSE(added[0].removed);
    ASSERT_EQ(afterStop.size(), 1u);
    EXPECT_TRUE(afterStop[0].removed);
    EXPECT_EQ(Access::ReferenceTimeIndex(*device), -1);
  }
}

TEST_F(LifecycleTest, StopClearsLiveAndKeepsTemplates) {
  Serve("alice_bob.json");
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BuildFromFreshDescription(*device));
  const std::size_t entries = Access::MapEntryCount(*device);

  fbhost::ClearProgressRecord();
  EXPECT_TRUE(fbhost::SetDeviceOnline(device, false));
  EXPECT_FALSE(device->Live.Get());
  // A stop does not clear the started flag: the panel still shows the
  // device as having been started.
  EXPECT_TRUE(device->Started());
  EXPECT_EQ(Access::MapEntryCount(*device), entries);
  EXPECT_EQ(device->ModelTemplate.GetCount(), 1);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Optical device", "Stopping data stream..."}};
  EXPECT_EQ(ProgressSteps(), expected);
}

// Shut down removes every template, node, map entry and model the device
// made; removing the device then gives back every host component.
TEST_F(LifecycleTest, ShutDownLeavesNothing) {
  Serve("alice_bob.json");
  const auto liveBefore = fbhost::LiveComponentCount();
  const auto allocationsBefore = fbhost::OutstandingComponentAllocations();

  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GoOnline(device));
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(3);
  ASSERT_TRUE(BuildFromFreshDescription(*device));
  ASSERT_GT(Access::MapEntryCount(*device), 0u);
  ASSERT_GT(device->AnimationNodeOutCount(), 0);

  fbhost::ClearProgressRecord();
  EXPECT_TRUE(fbhost::RunDeviceOperation(device, 5));
  EXPECT_FALSE(device->Live.Get());
  EXPECT_EQ(device->Status.Get(), "Shutting down");
  EXPECT_EQ(device->ModelTemplate.GetCount(), 0);
  EXPECT_EQ(Access::RootTemplate(*device), nullptr);
  EXPECT_EQ(Access::RootTemplateIndex(*device), -1);
  EXPECT_EQ(Access::MapEntryCount(*device), 0u);
  EXPECT_EQ(device->AnimationNodeOutCount(), 0);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Orbel Optical device", "Shutting down device..."}};
  EXPECT_EQ(ProgressSteps(), expected);

  ASSERT_TRUE(fbhost::RemoveDevice(device));
  EXPECT_EQ(fbhost::LiveComponentCount(), liveBefore);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), allocationsBefore);
}

// A second initialise without a shut down starts a fresh hierarchy rather
// than stranding the first one.
TEST_F(LifecycleTest, InitialiseAgainReplacesTheHierarchy) {
  Serve("alice_bob.json");
  const auto liveBefore = fbhost::LiveComponentCount();
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BuildFromFreshDescription(*device));

  EXPECT_TRUE(fbhost::RunDeviceOperation(device, 0));
  EXPECT_EQ(device->ModelTemplate.GetCount(), 1);
  EXPECT_EQ(Access::MapEntryCount(*device), 0u);
  EXPECT_EQ(Access::NodeCounter(*device), 0);
  EXPECT_FALSE(device->Started());

  ASSERT_TRUE(fbhost::RemoveDevice(device));
  EXPECT_EQ(fbhost::LiveComponentCount(), liveBefore);
}

}  // namespace
}  // namespace orbel::device_testing
