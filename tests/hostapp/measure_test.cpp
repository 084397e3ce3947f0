// What the host program measures: the client library's process-wide frame
// figures, the host's evaluation observer, and the latency correlation built
// on both, against the real capture server in process. No assertion here
// depends on how fast the machine is: waits are for the network and only
// bounded so that a broken build fails instead of hanging.
#include <OrbelDataStreamSDK/Client.h>
#include <OrbelDataStreamSDK/Diagnostics.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include <fbhost/fbhost.h>
#include <fbsdk/fbsdk.h>

#include "../host/test_device.h"
#include "capture_server.h"
#include "live_stats.h"
#include "running_server.h"
#include "synthetic_scene.h"

namespace orbel::hostapp {
namespace {

namespace sdk = OrbelDataStreamSDK::CPP;
namespace diagnostics = OrbelDataStreamSDK::Diagnostics;
using hosttest::TestDevice;

bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

struct SummaryCase {
  const char* name;
  std::vector<double> samples;
  double mean, min, median, p95, max, last;
};

class SummarizeLatenciesTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SummarizeLatenciesTest, GivesNearestRankPercentiles) {
  const SummaryCase& c = GetParam();
  const LatencySummary s = SummarizeLatencies(c.samples);
  EXPECT_EQ(s.samples, static_cast<std::int64_t>(c.samples.size()));
  EXPECT_DOUBLE_EQ(s.meanMs, c.mean);
  EXPECT_EQ(s.minMs, c.min);
  EXPECT_EQ(s.medianMs, c.median);
  EXPECT_EQ(s.p95Ms, c.p95);
  EXPECT_EQ(s.maxMs, c.max);
  EXPECT_EQ(s.lastMs, c.last);
}

std::vector<double> OneTo(int n) {
  std::vector<double> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SummarizeLatenciesTest,
    ::testing::Values(SummaryCase{"none", {}, 0, 0, 0, 0, 0, 0},
                      SummaryCase{"one", {5}, 5, 5, 5, 5, 5, 5},
                      SummaryCase{"unsorted", {3, 1, 2}, 2, 1, 2, 3, 3, 2},
                      SummaryCase{"twenty", OneTo(20), 10.5, 1, 10, 19, 20, 20},
                      SummaryCase{"hundred", OneTo(100), 50.5, 1, 50, 95, 100, 100},
                      SummaryCase{"ties", {2, 2, 2, 9}, 3.75, 2, 2, 9, 9, 9}),
    [](const ::testing::TestParamInfo<SummaryCase>& info) { return info.param.name; });

class MeasureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TestDevice::Register();
    fbhost::SetProgressEcho(false);
  }

  void SetUp() override {
    fbhost::ResetScene();
    server::SyntheticSceneConfig scene;
    scene.subjects = 1;
    mServer = std::make_unique<orbel::testing::RunningServer>(
        std::make_shared<server::SyntheticScene>(scene));
    ASSERT_TRUE(mServer->started());
    ASSERT_EQ(mClient.Connect(mServer->address()).Result, sdk::Result::Success);
    ASSERT_EQ(mClient.EnableSegmentData().Result, sdk::Result::Success);
  }
  void TearDown() override {
    mClient.Disconnect();
    mServer->stop();
    fbhost::ResetScene();
  }

  // Takes the next frame the server sends.
  void TakeNewFrame() {
    ASSERT_TRUE(Eventually([this] { return mClient.GetFrame().Result == sdk::Result::Success; }));
  }

  // A test device that is live with its root template bound: it writes.
  TestDevice* WritingDevice() {
    auto* device = static_cast<TestDevice*>(fbhost::AddDevice(TestDevice::kEntry));
    EXPECT_NE(device, nullptr);
    EXPECT_TRUE(fbhost::SetDeviceOnline(device, true));
    EXPECT_TRUE(fbhost::BindTemplate(device, 0, nullptr));
    EXPECT_TRUE(DeviceWritesNodes(device));
    return device;
  }

  std::unique_ptr<orbel::testing::RunningServer> mServer;
  sdk::Client mClient;
};

TEST_F(MeasureTest, DiagnosticsCountFramesTakenAndTheNumbersSkipped) {
  TakeNewFrame();
  const diagnostics::FrameTaken first = diagnostics::NewestFrameTaken();
  ASSERT_TRUE(first.Valid);
  EXPECT_EQ(first.FrameNumber, mClient.GetFrameNumber().FrameNumber);
  const auto timing = mClient.GetFrameTiming();
  EXPECT_EQ(first.ServerSendTimeNs, timing.ServerSendTimeNs);
  EXPECT_EQ(first.ReceiveTimeNs, timing.ReceiveTimeNs);
  EXPECT_LE(first.ReceiveTimeNs, first.TakenTimeNs);

  // Let the server send more frames, then take only the newest: the ones
  // in between were never taken and count as skipped.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  TakeNewFrame();
  const diagnostics::FrameTaken later = diagnostics::NewestFrameTaken();
  EXPECT_EQ(later.FramesTaken, first.FramesTaken + 1);
  EXPECT_EQ(later.FrameNumber, mClient.GetFrameNumber().FrameNumber);
  EXPECT_EQ(later.FramesSkipped - first.FramesSkipped, later.FrameNumber - first.FrameNumber - 1);

  // A GetFrame that finds nothing new changes nothing.
  while (mClient.GetFrame().Result == sdk::Result::Success) {
  }
  const diagnostics::FrameTaken settled = diagnostics::NewestFrameTaken();
  mClient.GetFrame();
  const diagnostics::FrameTaken again = diagnostics::NewestFrameTaken();
  EXPECT_LE(again.FramesTaken - settled.FramesTaken, 1u);  // at most a frame that just came
}

TEST_F(MeasureTest, TheObserverWatchesEachOnlineDevicesEvaluation) {
  std::vector<std::pair<FBDevice*, fbhost::EvaluationPoint>> seen;
  fbhost::SetEvaluationObserver([&seen](FBDevice* device, fbhost::EvaluationPoint point) {
    seen.emplace_back(device, point);
  });
  FBDevice* offline = fbhost::AddDevice(TestDevice::kEntry);
  FBDevice* online = fbhost::AddDevice(TestDevice::kEntry);
  ASSERT_TRUE(fbhost::SetDeviceOnline(online, true));
  fbhost::StepEvaluation();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, online);
  EXPECT_EQ(seen[0].second, fbhost::EvaluationPoint::BeforeNotify);
  EXPECT_EQ(seen[1].second, fbhost::EvaluationPoint::AfterNotify);
  EXPECT_NE(seen[0].first, offline);

  fbhost::SetEvaluationObserver(nullptr);
  fbhost::StepEvaluation();
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(MeasureTest, LatencyCountsEachFrameOnceAtItsFirstWrite) {
  LiveStats stats;
  TestDevice* device = WritingDevice();

  TakeNewFrame();
  stats.Observe(device, fbhost::EvaluationPoint::BeforeNotify);
  stats.Observe(device, fbhost::EvaluationPoint::AfterNotify);
  LiveFigures figures = stats.Figures();
  ASSERT_EQ(figures.latency.samples, 1);
  const diagnostics::FrameTaken frame = diagnostics::NewestFrameTaken();
  // After the server sent it and after the client received it.
  EXPECT_GE(figures.latency.lastMs, (frame.TakenTimeNs - frame.ServerSendTimeNs) / 1e6);
  EXPECT_GT(figures.latency.lastMs, 0.0);

  // The same frame written again is not a new sample.
  stats.Observe(device, fbhost::EvaluationPoint::BeforeNotify);
  stats.Observe(device, fbhost::EvaluationPoint::AfterNotify);
  EXPECT_EQ(stats.Figures().latency.samples, 1);

  // A frame taken while the device writes: which one was written is not
  // known, so nothing is counted.
  stats.Observe(device, fbhost::EvaluationPoint::BeforeNotify);
  TakeNewFrame();
  stats.Observe(device, fbhost::EvaluationPoint::AfterNotify);
  EXPECT_EQ(stats.Figures().latency.samples, 1);

  // A device that is not live writes nothing.
  TakeNewFrame();
  device->Live = false;
  stats.Observe(device, fbhost::EvaluationPoint::BeforeNotify);
  stats.Observe(device, fbhost::EvaluationPoint::AfterNotify);
  EXPECT_EQ(stats.Figures().latency.samples, 1);

  device->Live = true;
  stats.Observe(device, fbhost::EvaluationPoint::BeforeNotify);
  stats.Observe(device, fbhost::EvaluationPoint::AfterNotify);
  figures = stats.Figures();
  EXPECT_EQ(figures.latency.samples, 2);
  EXPECT_GE(figures.framesFetched, 3u);

  stats.ResetLatency();
  EXPECT_EQ(stats.Figures().latency.samples, 0);
}

TEST_F(MeasureTest, TheEngineFeedsTheLatencyThroughTheObserver) {
  LiveStats stats;
  WritingDevice();
  for (int i = 0; i < 3; ++i) {
    TakeNewFrame();
    fbhost::StepEvaluation();
  }
  EXPECT_EQ(stats.Figures().latency.samples, 3);
}

TEST(ConfigListing, ListsEverySettingOnceWithTheValueThatCounts) {
  const std::string path = ::testing::TempDir() + "/listing_test.txt";
  {
    std::FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("[A]\nk = \"1\"\nj = 2\nk = \"3\"\n[B]\nk = \"x\"\n", file);
    std::fclose(file);
  }
  std::vector<fbhost::ConfigSetting> settings;
  std::string error, problems;
  ASSERT_TRUE(fbhost::ReadConfigSettings(path, &settings, &error, &problems)) << error;
  ASSERT_EQ(settings.size(), 3u);
  EXPECT_EQ(settings[0].key, "k");
  EXPECT_EQ(settings[0].value, "3");
  EXPECT_EQ(settings[1].value, "2");
  EXPECT_EQ(settings[2].section, "B");
  EXPECT_TRUE(problems.empty());
  std::remove(path.c_str());

  ASSERT_TRUE(fbhost::ReadConfigSettings(path, &settings, &error));
  EXPECT_TRUE(settings.empty());
  EXPECT_FALSE(fbhost::ReadConfigSettings("@a/b.txt", &settings, &error));
  EXPECT_NE(error.find("a/b.txt"), std::string::npos) << error;
  EXPECT_FALSE(fbhost::ReadConfigSettings(::testing::TempDir(), &settings, &error));
}

}  // namespace
}  // namespace orbel::hostapp
