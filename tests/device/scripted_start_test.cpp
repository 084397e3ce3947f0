// Start, stop and reset against a scripted stream client, for the failures a
// real server does not produce on demand: a client that ignores the data
// kinds asked for, a server with no frame, a stream without a timecode
// standard, a disconnect that fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include <fbhost/config.h>
#include <fbhost/devices.h>
#include <fbhost/messages.h>
#include <fbhost/progress.h>
#include <fbhost/scene.h>

#include "../support/device_test_access.h"
#include "../support/temporary_folder.h"
#include "OrbelSimpleDeviceOptical.h"
#include "orbel_defaults.h"
#include "scripted_client.h"

namespace orbel::device_testing {
namespace {

namespace fs = std::filesystem;
using orbel::testing::ScopedScript;
using orbel::testing::Script;
using Access = OrbelSimpleDeviceOpticalTestAccess;

class ScriptedStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mFolder = MakeTemporaryFolder("orbel-device");
    ASSERT_FALSE(mFolder.empty());
    fbhost::SetConfigFolder(mFolder);
    fbhost::SetFlushToDisk(false);
    fbhost::SetProgressEcho(false);
    fbhost::SetMessageEcho(false);
    fbhost::ResetScene();
    mScript.subjects = {{"Bob", {{"Hips", "", {}, {0, 0, 0, 1}}}, {}}};
    mScript.timecode.Standard = OrbelDataStreamSDK::CPP::TimecodeStandard::PAL;
  }
  void TearDown() override {
    fbhost::ResetScene();
    fbhost::SetConfigFolder("");
    std::error_code ignored;
    fs::remove_all(mFolder, ignored);
  }

  OrbelSimpleDeviceOptical* AddDevice() {
    FBDevice* device = fbhost::AddDevice("Orbel Stream Device");
    if (device == nullptr || !device->Is(gOrbelDeviceTypeInfo)) return nullptr;
    auto* orbel = static_cast<OrbelSimpleDeviceOptical*>(device);
    // The connect loop's time moves only when the reader sleeps.
    Access::Reader(*orbel)->SetConnectClock(
        OrbelReaderClock{[this] { return mNowMs; }, [this](std::uint32_t ms) { mNowMs += ms; }});
    return orbel;
  }

  std::string mFolder;
  Script mScript;
  ScopedScript mInstalled{mScript};
  std::int64_t mNowMs = 0;
};

struct StartFailure {
  const char* name;
  std::function<void(Script&, OrbelSimpleDeviceOptical&)> arrange;
  const char* information;
  bool liveAfter;  // what was done before the failure stays done
};

void PrintTo(const StartFailure& failure, std::ostream* out) { *out << failure.name; }

class StartFailureTest : public ScriptedStartTest,
                         public ::testing::WithParamInterface<StartFailure> {};

TEST_P(StartFailureTest, ReportsItsTextAndAnswersFalse) {
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  GetParam().arrange(mScript, *device);

  EXPECT_FALSE(fbhost::RunDeviceOperation(device, 1));
  EXPECT_EQ(device->Information.Get(), GetParam().information);
  EXPECT_EQ(device->Live.Get(), GetParam().liveAfter);
  EXPECT_FALSE(device->Started());
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, StartFailureTest,
    ::testing::Values(
        StartFailure{"NoReader",
                     [](Script&, OrbelSimpleDeviceOptical& d) { Access::DropReader(d); },
                     "Cannot access data reader.", false},
        StartFailure{"Unreachable",
                     [](Script& s, OrbelSimpleDeviceOptical&) { s.reachable = false; },
                     "Cannot connect to server.", false},
        StartFailure{"KindsNotApplied",
                     [](Script& s, OrbelSimpleDeviceOptical& d) {
                       // The client keeps reporting segment data off.
                       s.acknowledgeKinds = false;
                       d.SetStreamBones(true);
                     },
                     "Cannot read from server.", false},
        StartFailure{"NoFrame",
                     [](Script& s, OrbelSimpleDeviceOptical&) {
                       s.frameResult = OrbelDataStreamSDK::CPP::Result::NoFrame;
                     },
                     "Could not put device in streaming mode", true},
        StartFailure{"NoTimecodeStandard",
                     [](Script& s, OrbelSimpleDeviceOptical& d) {
                       s.timecode.Standard =
                           static_cast<OrbelDataStreamSDK::CPP::TimecodeStandard::Enum>(0);
                       // Written to the settings file, which the start reads.
                       d.SetUseTimecode(true);
                     },
                     "Stream does not contain time code", true}),
    [](const ::testing::TestParamInfo<StartFailure>& info) { return info.param.name; });

// The settings a start loads ask for the data kinds again, and the client
// then holds no frame until the server sends one with them: the start waits
// for it rather than failing at once.
TEST_F(ScriptedStartTest, StartWaitsForTheFirstFrame) {
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  mScript.frameResult = OrbelDataStreamSDK::CPP::Result::NoFrame;
  std::atomic<bool> done{false};
  std::thread server([&] {
    // The first frame arrives once the device has asked for one.
    while (!done) {
      {
        std::lock_guard<std::mutex> lock(mScript.Lock());
        if (mScript.Count("GetFrame") > 0) {
          mScript.frameResult = OrbelDataStreamSDK::CPP::Result::Success;
          return;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool started = fbhost::RunDeviceOperation(device, 1);
  done = true;
  server.join();
  EXPECT_TRUE(started) << device->Information.Get().Buffer();
  EXPECT_GE(mScript.Count("GetFrame"), 2);
}

TEST_F(ScriptedStartTest, ResetAnswersTheStartEvenAfterAFailedStop) {
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(fbhost::RunDeviceOperation(device, 1));
  mScript.disconnectResult = OrbelDataStreamSDK::CPP::Result::NotConnected;

  EXPECT_FALSE(fbhost::RunDeviceOperation(device, 3));
  EXPECT_EQ(device->Information.Get(), "Could not stop streaming");
  EXPECT_FALSE(device->Live.Get());

  device->Live = true;
  EXPECT_TRUE(fbhost::RunDeviceOperation(device, 4));
  EXPECT_EQ(device->Information.Get(), "Started");
  EXPECT_TRUE(device->Live.Get());

  mScript.frameResult = OrbelDataStreamSDK::CPP::Result::NoFrame;
  EXPECT_FALSE(fbhost::RunDeviceOperation(device, 4));
  EXPECT_EQ(device->Information.Get(), "Could not put device in streaming mode");
}

}  // namespace
}  // namespace orbel::device_testing
