// End to end, on a capture server in this process and a bound device: the
// time from the server's send of a frame to the device's node write of it,
// at 120 and 240 frames a second, on the small (argument 0) and the stage
// (argument 1) scene. The wait between the frame's arrival at the client
// and the host's next input pass is the host's own sample scheduling and is
// left out: latency = (send -> received and decoded) + (taken by the input
// pass -> nodes written). The host's time is a manual clock moved past the
// reader's fetch interval before each pass, so that every pass may fetch.
//
// Argument 2 chooses the evaluation: 0 is the device's node write alone;
// 1 is the host's whole evaluation pass (the device's write, then the
// nodes carried into the bound models), the write a viewer of the scene
// sees; 2 is that pass with the host program's live view open
// (hostapp/view_server.h) and one page reading its event stream, so that
// the view thread reads the models at its display rate meanwhile. 2 against
// 1 is what the view costs the input and evaluation work.
//
// Also here: resident memory before and after streaming (and recording)
// for a while, as a quick look for growth; the long soak is a script's job.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <OrbelDataStreamSDK/Diagnostics.h>
#include <fbhost/clock.h>
#include <fbhost/devices.h>
#include <fbhost/engine.h>

#include "device_stage.h"
#include "frame_baseline.h"
#include "scene_gate.h"
#include "view_server.h"

namespace {

using orbel::device_bench::Stage;
namespace diagnostics = OrbelDataStreamSDK::Diagnostics;

std::int64_t MonotonicNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

OrbelSimpleDeviceOptical* BoundDevice(Stage& stage) {
  OrbelSimpleDeviceOptical* device = stage.FreshDevice();
  if (device == nullptr || !stage.WaitForNewFrame() || !fbhost::BindTemplate(device, 0, nullptr)) {
    return nullptr;
  }
  return device;
}

// Resident set size in MB, from /proc.
double ResidentMB() {
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  long pages = 0;
  long resident = 0;
  const int read = fscanf(statm, "%ld %ld", &pages, &resident);
  fclose(statm);
  if (read != 2) return 0;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// The live view with one page watching it, for as long as the object lives.
class WatchedView {
 public:
  bool Open() {
    std::string error;
    mView =
        orbel::hostapp::ViewServer::Start(orbel::hostapp::ViewOptions(), mGate, nullptr, &error);
    if (!mView) return false;
    mPage = std::thread([this] {
      httplib::Client client("127.0.0.1", mView->Port());
      client.Get("/events", [this](const char*, std::size_t size) {
        mBytes += size;
        return !mClosing.load();
      });
    });
    // Until the first pose arrives, the view has not started reading.
    for (int i = 0; i < 500 && mBytes.load() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return mBytes.load() > 0;
  }
  ~WatchedView() {
    mClosing = true;
    if (mPage.joinable()) mPage.join();
    mView.reset();
  }
  double Bytes() const { return static_cast<double>(mBytes.load()); }

 private:
  orbel::hostapp::SceneGate mGate;
  std::unique_ptr<orbel::hostapp::ViewServer> mView;
  std::thread mPage;
  std::atomic<bool> mClosing{false};
  std::atomic<std::size_t> mBytes{0};
};

// range(0): scene (0 small, 1 stage); range(1): frames a second; range(2):
// the evaluation, and the view (see the file comment).
void BM_SendToNodeWrite(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  const double fps = static_cast<double>(state.range(1));
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  Stage stage(preset, fps);
  OrbelSimpleDeviceOptical* device = BoundDevice(stage);
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  const bool hostPass = state.range(2) != 0;
  const bool viewOpen = state.range(2) == 2;
  WatchedView view;
  if (viewOpen && !view.Open()) {
    state.SkipWithError("the live view did not open");
    return;
  }
  FBEvaluateInfo info(FBTime(), FBTime(), 1);
  std::vector<double> latencyUs;
  std::vector<double> arrivalUs;  // send -> received and decoded
  std::vector<double> deviceUs;   // taken -> nodes written
  latencyUs.reserve(static_cast<std::size_t>(state.max_iterations));
  arrivalUs.reserve(static_cast<std::size_t>(state.max_iterations));
  deviceUs.reserve(static_cast<std::size_t>(state.max_iterations));
  diagnostics::FrameTaken before = diagnostics::NewestFrameTaken();
  const std::uint64_t skipped0 = before.FramesSkipped;
  for (auto _ : state) {
    diagnostics::FrameTaken taken;
    // Input passes a tenth of a frame period apart until one takes a frame.
    for (;;) {
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(100000 / fps)));
      clock.AdvanceMilliSeconds(12);
      fbhost::NotifySampleInput(device, 0);
      taken = diagnostics::NewestFrameTaken();
      if (taken.FramesTaken != before.FramesTaken) break;
    }
    if (hostPass) {
      fbhost::StepEvaluation();
    } else {
      device->NodeEvaluateNotify(nullptr, &info);
    }
    const std::int64_t written = MonotonicNowNs();
    arrivalUs.push_back(static_cast<double>(taken.ReceiveTimeNs - taken.ServerSendTimeNs) / 1e3);
    deviceUs.push_back(static_cast<double>(written - taken.TakenTimeNs) / 1e3);
    latencyUs.push_back(arrivalUs.back() + deviceUs.back());
    before = taken;
  }
  const double baselineUs = orbel::bench::Baseline(preset).memcpyNs / 1e3;
  const double p50 = Percentile(latencyUs, 0.5);
  const double p99 = Percentile(latencyUs, 0.99);
  state.counters["p50_us"] = p50;
  state.counters["p99_us"] = p99;
  state.counters["max_us"] = Percentile(latencyUs, 1.0);
  // The two parts, to tell the transport from the plug-in's own work.
  state.counters["arrival_p50_us"] = Percentile(arrivalUs, 0.5);
  state.counters["arrival_p99_us"] = Percentile(arrivalUs, 0.99);
  state.counters["device_p50_us"] = Percentile(deviceUs, 0.5);
  state.counters["device_p99_us"] = Percentile(deviceUs, 0.99);
  if (baselineUs > 0) {
    state.counters["p50_x_memcpy"] = p50 / baselineUs;
    state.counters["p99_x_memcpy"] = p99 / baselineUs;
  }
  state.counters["frames_skipped"] = static_cast<double>(before.FramesSkipped - skipped0);
  if (viewOpen) state.counters["view_bytes"] = view.Bytes();
  state.SetLabel(std::string(preset) + " " + std::to_string(state.range(1)) + " fps" +
                 (hostPass ? ", host pass" : "") + (viewOpen ? ", view open" : ""));
}
// About four seconds of frames each.
BENCHMARK(BM_SendToNodeWrite)
    ->Args({0, 120, 0})
    ->Args({1, 120, 0})
    ->Args({1, 120, 1})
    ->Args({1, 120, 2})
    ->Iterations(480)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SendToNodeWrite)
    ->Args({0, 240, 0})
    ->Args({1, 240, 0})
    ->Args({1, 240, 1})
    ->Args({1, 240, 2})
    ->Iterations(960)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// range(0): scene; range(1): 1 to record, 0 to stream only. Streams for
// ORBEL_BENCH_STREAM_SECONDS (default 5) at the scene's own rate, one input
// and one evaluation pass per frame period, and reports resident memory
// before and after. Recording keeps every key, so there memory grows by
// design; rss_growth_per_key_B shows whether it is the keys alone.
void BM_StreamResidentMemory(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  const bool record = state.range(1) != 0;
  const char* secondsText = std::getenv("ORBEL_BENCH_STREAM_SECONDS");
  const double seconds = secondsText != nullptr ? std::atof(secondsText) : 5.0;
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  Stage stage(preset);
  OrbelSimpleDeviceOptical* device = BoundDevice(stage);
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  FBEvaluateInfo info(FBTime(), FBTime(), 1);
  if (record) {
    device->Recording = true;
    fbhost::TransportRecord();
  }
  const std::int64_t samples0 = fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  double startMB = 0;
  double endMB = 0;
  for (auto _ : state) {
    startMB = ResidentMB();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
      clock.AdvanceMilliSeconds(12);
      fbhost::NotifySampleInput(device, record ? 1 : 0);
      device->NodeEvaluateNotify(nullptr, &info);
    }
    endMB = ResidentMB();
  }
  const double samples =
      static_cast<double>(fbhost::GetDeviceStatistics(device).samplesAcknowledged - samples0);
  if (record) fbhost::TransportStop();
  state.counters["rss_start_MB"] = startMB;
  state.counters["rss_end_MB"] = endMB;
  state.counters["samples"] = samples;
  if (record && samples > 0) {
    const double keys = samples * static_cast<double>(device->AnimationNodeOutCount());
    state.counters["rss_growth_per_key_B"] = (endMB - startMB) * 1048576.0 / keys;
  }
  state.SetLabel(std::string(preset) + (record ? " recording" : " streaming"));
}
BENCHMARK(BM_StreamResidentMemory)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
