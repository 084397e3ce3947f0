// The host's real input and evaluation threads: they drive an online device
// at the same time as each other and as the UI thread, which binds,
// unbinds, deletes models, switches options and records meanwhile. Run it
// under ThreadSanitizer to see the host's structure locking hold.
//
// Nothing here depends on the machine's speed: every wait is for an event
// with a generous limit, and the checks are invariants, not counts.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "fbhost/components.h"
#include "fbhost/devices.h"
#include "fbhost/engine.h"
#include "fbhost/messages.h"
#include "fbhost/scene.h"
#include "test_device.h"

namespace {

using hosttest::TestDevice;
using Clock = std::chrono::steady_clock;

class EngineThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestDevice::Register();
    fbhost::SetMessageEcho(false);
    fbhost::ResetScene();
    mLive = fbhost::LiveComponentCount();
    mAllocations = fbhost::OutstandingComponentAllocations();
  }
  void TearDown() override {
    fbhost::StopEngine();
    fbhost::ResetScene();
  }

  // Waits until the condition holds; false after a long limit.
  template <class Condition>
  static bool WaitFor(Condition condition) {
    const auto limit = Clock::now() + std::chrono::seconds(30);
    while (!condition()) {
      if (Clock::now() > limit) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  std::int64_t mLive = 0;
  std::int64_t mAllocations = 0;
};

TEST_F(EngineThreadTest, TheThreadsSampleEvaluateAndMoveModels) {
  auto* device = static_cast<TestDevice*>(fbhost::AddDevice(TestDevice::kEntry));
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(fbhost::SetDeviceOnline(device, true));
  ASSERT_TRUE(fbhost::BindTemplate(device, 0, nullptr));
  ASSERT_TRUE(fbhost::StartEngine());
  EXPECT_FALSE(fbhost::StartEngine()) << "already running";
  EXPECT_TRUE(fbhost::EngineRunning());

  FBModel* hips = device->hips->Model;
  ASSERT_TRUE(WaitFor([hips] { return hips->Translation.Get()[0] >= 3.0; }))
      << "the hips model never moved";
  fbhost::StopEngine();
  EXPECT_FALSE(fbhost::EngineRunning());

  const auto stats = fbhost::GetDeviceStatistics(device);
  EXPECT_GE(stats.inputCalls, 3);
  EXPECT_GE(stats.evaluationCalls, 1);
  EXPECT_EQ(stats.samplesAcknowledged, device->SampleCount());
  // Once stopped, nothing calls the device any more.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fbhost::GetDeviceStatistics(device).inputCalls, stats.inputCalls);
}

TEST_F(EngineThreadTest, StressBindingAndSwitchingWhileTheThreadsRun) {
  auto* device = static_cast<TestDevice*>(fbhost::AddDevice(TestDevice::kEntry));
  ASSERT_NE(device, nullptr);
  device->SamplingPeriod = FBTime::FromMilliSeconds(1);
  ASSERT_TRUE(fbhost::SetDeviceOnline(device, true));
  fbhost::EngineOptions options;
  options.evaluationPeriod = FBTime::FromMilliSeconds(1);
  ASSERT_TRUE(fbhost::StartEngine(options));
  ASSERT_TRUE(WaitFor([device] { return fbhost::GetDeviceStatistics(device).inputCalls > 0; }));

  // A fixed amount of work, each round touching every path the threads read.
  for (int round = 0; round < 250; ++round) {
    ASSERT_TRUE(
        fbhost::BindTemplate(device, 0, round % 2 == 0 ? nullptr : device->root->Model.Get()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    device->Recording = round % 3 != 0;
    if (round % 4 == 0) {
      fbhost::TransportRecord();
    } else if (round % 4 == 2) {
      fbhost::TransportStop();
    }
    device->DeleteBoundModels();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(fbhost::BindTemplate(device, 0, device->root->Model.Get()));
    if (round % 5 == 0) {
      device->Online = false;
      device->Online = true;
    }
    if (round % 7 == 0) {
      ASSERT_TRUE(fbhost::UnbindTemplate(device, 0));
    }
    device->Live = round % 6 != 5;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // And a device coming and going while the threads call the first.
  for (int i = 0; i < 5; ++i) {
    FBDevice* other = fbhost::AddDevice(TestDevice::kEntry);
    ASSERT_NE(other, nullptr);
    other->Online = true;
    ASSERT_TRUE(fbhost::BindTemplate(other, 0, nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(fbhost::RemoveDevice(other));
  }
  fbhost::TransportStop();
  fbhost::StopEngine();

  const auto stats = fbhost::GetDeviceStatistics(device);
  EXPECT_EQ(stats.samplesAcknowledged, device->SampleCount());
  EXPECT_TRUE(fbhost::Messages().empty());
  fbhost::ResetScene();
  EXPECT_EQ(fbhost::LiveComponentCount(), mLive);
  EXPECT_EQ(fbhost::OutstandingComponentAllocations(), mAllocations);
}

}  // namespace
