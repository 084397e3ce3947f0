// The host's input and evaluation threads running against the device while
// the UI thread rebinds, switches options, pauses and records. Meant for the
// thread sanitizer: any race between the callbacks and the UI thread's
// changes to the records, node maps and templates is reported there.
#include <chrono>

#include <fbhost/engine.h>

#include "device_fixture.h"

namespace orbel::device_testing {
namespace {

class StressTest : public DeviceTest {};

TEST_F(StressTest, CallbacksRunWhileTheUserChangesEverything) {
  std::string error;
  ASSERT_TRUE(mServer.StartSynthetic(true, error)) << error;
  OrbelSimpleDeviceOptical* device = AddDevice();
  ASSERT_NE(device, nullptr);
  device->SetStreamUnlabeledMarkers(true);
  device->SetUnlabeledMarkerCount(20);
  device->SetUseTimecode(true);
  ASSERT_TRUE(GoOnline(device));
  ASSERT_TRUE(BindRoot(device));
  FBModel* root = Access::RootTemplate(*device)->Model;
  device->Recording = true;

  fbhost::EngineOptions options;
  options.evaluationPeriod = FBTime::FromMilliSeconds(5);
  ASSERT_TRUE(fbhost::StartEngine(options));

  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
    const bool odd = round % 2 == 1;
    fbhost::BindTemplate(device, 0, root);
    device->SetStreamBones(!odd);
    device->SetStreamMarkers(odd);
    device->SetStreamUnlabeledMarkers(round % 3 != 0);
    // A strip switch makes the next bind add a second set of templates.
    device->SetStripCharacterName(round % 4 >= 2);
    device->SetPaused(round % 5 == 4);
    device->SetUseTimecode(round % 6 < 3);
    if (round % 3 == 0) {
      fbhost::TransportRecord();
    } else if (round % 3 == 2) {
      fbhost::TransportStop();
    }
    if (round % 7 == 6) device->RemoveUnusedCharacters();
    if (round % 11 == 10) fbhost::RunDeviceOperation(device, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fbhost::TransportStop();
  device->SetPaused(false);
  const auto acks = fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  EXPECT_TRUE(
      Eventually([&] { return fbhost::GetDeviceStatistics(device).samplesAcknowledged > acks; }));
  fbhost::StopEngine();

  const fbhost::DeviceStatistics stats = fbhost::GetDeviceStatistics(device);
  EXPECT_GT(stats.evaluationCalls, 0);
  EXPECT_GT(stats.samplesAcknowledged, 0);
}

}  // namespace
}  // namespace orbel::device_testing
