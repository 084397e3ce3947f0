// The panel while the device runs: which controls take input while it is
// online, live and started; the pause button and its return when the stream
// ends; "Remove Unused Characters" on a bound scene.
#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include <fbsdk/fbmodel.h>

#include "panel_fixture.h"

namespace orbel_layout_test {
namespace {

// The controls the idle refresh switches, and those it never touches.
const char* const kOfflineOnly[] = {"ButtonEnableUnlabeledMarkers", "LabelUnlabeledMarkerCount",
                                    "EditUnlabeledMarkerCount", "ButtonEnableTimecode"};
const char* const kStrip = "ButtonEnableStripCharName";
const char* const kLiveOnly[] = {"ButtonPause", "ButtonReset"};
const char* const kAlwaysEditable[] = {"EditNetworkAddress", "EditNetworkPort", "mListAxisMapping",
                                       "ButtonEnableBones", "ButtonEnableMarkers"};

struct DeviceState {
  bool online, live, started;
};

class PanelIdleTest : public PanelTest, public ::testing::WithParamInterface<DeviceState> {
 protected:
  void TearDown() override {
    if (mDevice != nullptr) {
      // Back to the state the device really is in, so it is removed cleanly.
      mDevice->Online.Store(false);
      mDevice->Live = false;
      OrbelSimpleDeviceOpticalTestAccess::SetStarted(*mDevice, false);
    }
    PanelTest::TearDown();
  }
};

TEST_P(PanelIdleTest, EnabledFlagsFollowTheDevice) {
  const DeviceState s = GetParam();
  AddDeviceAndOpenPanel();
  // Start from the opposite of what is expected, so that a refresh that
  // leaves a flag alone shows.
  for (const auto& region : mPanel->Regions()) {
    if (region.control != nullptr && region.depth == 1) region.control->Enabled = s.online;
  }
  // The host's own flags, as a real online switch and stream would set them.
  mDevice->Online.Store(s.online);
  mDevice->Live = s.live;
  OrbelSimpleDeviceOpticalTestAccess::SetStarted(*mDevice, s.started);

  fbhost::RaiseUIIdle();

  for (const char* region : kOfflineOnly) EXPECT_EQ(Enabled(region), !s.online) << region;
  EXPECT_EQ(Enabled(kStrip), !s.online && !s.started);
  for (const char* region : kLiveOnly) EXPECT_EQ(Enabled(region), s.live) << region;
  // Left as they were.
  for (const char* region : kAlwaysEditable) EXPECT_EQ(Enabled(region), s.online) << region;
}

INSTANTIATE_TEST_SUITE_P(
    States, PanelIdleTest,
    ::testing::Values(DeviceState{false, false, false}, DeviceState{false, false, true},
                      DeviceState{true, false, false}, DeviceState{true, false, true},
                      DeviceState{true, true, false}, DeviceState{true, true, true},
                      DeviceState{false, true, true}),
    [](const auto& info) {
      const DeviceState& s = info.param;
      return std::string(s.online ? "Online" : "Offline") + (s.live ? "Live" : "NotLive") +
             (s.started ? "Started" : "NeverStarted");
    });

// ---- against a real capture server ----

class PanelLiveTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    std::string error;
    ASSERT_TRUE(mServer.Start(&error)) << error;
  }
  void TearDown() override {
    PanelTest::TearDown();
    mServer.Stop();
  }
  LocalServer mServer;
};

TEST_F(PanelLiveTest, OnlineLocksTheStartOptionsUntilOfflineAndStripUntilInitialise) {
  AddDeviceAndOpenPanel();
  fbhost::RaiseUIIdle();
  EXPECT_FALSE(Enabled("ButtonPause"));
  EXPECT_TRUE(Enabled(kStrip));

  GoOnline(mServer);
  fbhost::RaiseUIIdle();
  for (const char* region : kOfflineOnly) EXPECT_FALSE(Enabled(region)) << region;
  EXPECT_FALSE(Enabled(kStrip));
  for (const char* region : kLiveOnly) EXPECT_TRUE(Enabled(region)) << region;
  // The user cannot change a locked option.
  std::string error;
  EXPECT_FALSE(mPanel->Click("ButtonEnableTimecode", &error));
  EXPECT_FALSE(mDevice->UseTimecode());
  // Address, port, frame and the two stream options stay editable.
  Click("ButtonEnableBones");
  EXPECT_TRUE(mDevice->StreamBones());

  ASSERT_TRUE(fbhost::SetDeviceOnline(mDevice, false));
  fbhost::RaiseUIIdle();
  for (const char* region : kOfflineOnly) EXPECT_TRUE(Enabled(region)) << region;
  EXPECT_FALSE(Enabled(kStrip));
  for (const char* region : kLiveOnly) EXPECT_FALSE(Enabled(region)) << region;
  EXPECT_FALSE(mPanel->Click("ButtonPause", &error));

  // A new initialise lifts the lock on the strip option.
  ASSERT_TRUE(fbhost::RunDeviceOperation(mDevice, kFBDeviceInitialize));
  fbhost::RaiseUIIdle();
  EXPECT_TRUE(Enabled(kStrip));
}

TEST_F(PanelLiveTest, PauseEndsWhenTheStreamStops) {
  AddDeviceAndOpenPanel();
  GoOnline(mServer);
  fbhost::RaiseUIIdle();

  Click("ButtonPause");
  EXPECT_EQ(Caption("ButtonPause"), "Resume Live Streaming");
  EXPECT_TRUE(Reader().Paused());
  EXPECT_TRUE(mDevice->Paused());

  // Going offline ends live; the panel drops the pause without a click.
  ASSERT_TRUE(fbhost::SetDeviceOnline(mDevice, false));
  ASSERT_FALSE(mDevice->Live.Get());
  EXPECT_EQ(Caption("ButtonPause"), "Pause Live Streaming");
  EXPECT_FALSE(Reader().Paused());
  EXPECT_FALSE(mDevice->Paused());

  // The next start streams unpaused, and one click pauses again.
  GoOnline(mServer);
  EXPECT_FALSE(Reader().Paused());
  fbhost::RaiseUIIdle();
  Click("ButtonPause");
  EXPECT_TRUE(Reader().Paused());
  Click("ButtonPause");
  EXPECT_FALSE(Reader().Paused());
  EXPECT_EQ(Caption("ButtonPause"), "Pause Live Streaming");
}

TEST_F(PanelLiveTest, StayingLiveKeepsThePause) {
  AddDeviceAndOpenPanel();
  GoOnline(mServer);
  fbhost::RaiseUIIdle();
  Click("ButtonPause");
  // A state change that leaves the device live (it is raised for Online
  // too) must not end the pause.
  mDevice->OnStateChange.Fire(mDevice->GetHIObject());
  EXPECT_EQ(Caption("ButtonPause"), "Resume Live Streaming");
  EXPECT_TRUE(Reader().Paused());
}

TEST_F(PanelLiveTest, StreamOptionsReachTheStreamWhileOnline) {
  AddDeviceAndOpenPanel();
  GoOnline(mServer);
  fbhost::RaiseUIIdle();
  const struct {
    const char* region;
    bool bones, markers;
  } kClicks[] = {{"ButtonEnableBones", true, false},
                 {"ButtonEnableMarkers", true, true},
                 {"ButtonEnableBones", false, true}};
  for (const auto& step : kClicks) {
    SCOPED_TRACE(step.region);
    Click(step.region);
    EXPECT_EQ(Reader().SegmentDataEnabled(), step.bones);
    EXPECT_EQ(Reader().MarkerDataEnabled(), step.markers);
    EXPECT_TRUE(Reader().StreamOptionsApplied());
  }
}

class PanelBoundTest : public PanelLiveTest {
 protected:
  // Streams bones and markers, goes online and binds the root template to a
  // new model, as a user does.
  void BindScene() {
    AddDeviceAndOpenPanel();
    Click("ButtonEnableBones");
    Click("ButtonEnableMarkers");
    GoOnline(mServer);
    // A bind reads the description from a fresh frame; while the input
    // thread takes every frame as it comes, one may find none and bind the
    // root alone, and the user binds again.
    std::string error;
    ASSERT_TRUE(fbhost::BindTemplate(mDevice, 0, nullptr, &error)) << error;
    for (int attempt = 0; attempt < 200 && FBFindModelByLabelName("Actor1:RootNode") == nullptr;
         ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ASSERT_TRUE(fbhost::BindTemplateToLabel(mDevice, 0, "Orbel", &error)) << error;
    }
    ASSERT_NE(FBFindModelByLabelName("Actor1:RootNode"), nullptr);
    ASSERT_NE(FBFindModelByLabelName("Actor2:RootNode"), nullptr);
    fbhost::RaiseUIIdle();
  }
};

TEST_F(PanelBoundTest, StreamBonesShowsAndHidesTheSegmentModels) {
  BindScene();
  if (HasFatalFailure()) return;
  FBModel* hips = FBFindModelByLabelName("Actor1:Actor1_Hips");
  ASSERT_NE(hips, nullptr);
  ASSERT_TRUE(hips->Show.Get());
  Click("ButtonEnableBones");
  EXPECT_FALSE(hips->Show.Get());
  Click("ButtonEnableBones");
  EXPECT_TRUE(hips->Show.Get());
}

TEST_F(PanelBoundTest, RemoveUnusedCharactersDropsASubjectNoLongerStreamed) {
  BindScene();
  if (HasFatalFailure()) return;
  // As after a description read that no longer lists Actor2.
  {
    OrbelDataReader::ScopedDataLock lock(Reader());
    ASSERT_TRUE(lock.owns());
    auto& names = Reader().subjectNames;
    names.erase(std::remove(names.begin(), names.end(), FBString("Actor2")), names.end());
  }
  fbhost::RaiseUIIdle();
  Click("ButtonReset");
  EXPECT_NE(FBFindModelByLabelName("Actor1:RootNode"), nullptr);
  EXPECT_EQ(FBFindModelByLabelName("Actor2:RootNode"), nullptr);
}

}  // namespace
}  // namespace orbel_layout_test
