// The device's per-pass work on the small scene (argument 0: 2 subjects x
// 20 segments, 80 labelled and 100 unlabelled markers) and the stage scene
// (argument 1: 10 x 60 segments, 600 labelled and 1000 unlabelled markers),
// bound: one evaluation pass writing every node, and one input pass taking
// a sample in while the host records (every segment's two keys and every
// labelled marker's key). Each carries its ratio to one memcpy of the
// frame's payload (x_memcpy).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <fbhost/clock.h>
#include <fbhost/devices.h>
#include <fbhost/engine.h>

#include "device_stage.h"
#include "frame_baseline.h"

namespace {

using orbel::device_bench::Stage;

// One scene at a time keeps the other's server from taking a core.
Stage& TheStage(const std::string& preset) {
  static std::unique_ptr<Stage> stage;
  if (!stage || stage->Preset() != preset) {
    stage.reset();
    stage = std::make_unique<Stage>(preset);
  }
  return *stage;
}

OrbelSimpleDeviceOptical* BoundDevice(Stage& stage) {
  OrbelSimpleDeviceOptical* device = stage.FreshDevice();
  if (device == nullptr || !stage.WaitForNewFrame() || !fbhost::BindTemplate(device, 0, nullptr)) {
    return nullptr;
  }
  return device;
}

void BM_NodeEvaluateNotify(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  OrbelSimpleDeviceOptical* device = BoundDevice(TheStage(preset));
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  FBEvaluateInfo info(FBTime(), FBTime(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(device->NodeEvaluateNotify(nullptr, &info));
  state.counters["nodes"] = static_cast<double>(device->AnimationNodeOutCount());
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_NodeEvaluateNotify)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SampleInputNotifyRecording(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  OrbelSimpleDeviceOptical* device = BoundDevice(TheStage(preset));
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  device->Recording = true;
  fbhost::TransportRecord();
  std::int64_t samples = -fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  Stage& stage = TheStage(preset);
  for (auto _ : state) {
    // A new frame from the server, and past the reader's fetch interval, so
    // that every pass takes a sample (a pass with no new frame takes none).
    state.PauseTiming();
    stage.WaitForNewFrame();
    state.ResumeTiming();
    clock.AdvanceMilliSeconds(12);
    fbhost::NotifySampleInput(device, 1);
  }
  samples += fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  fbhost::TransportStop();
  state.counters["samples"] = static_cast<double>(samples);
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
// Every pass adds a key per recorded node to the take; a bounded run keeps
// it small.
BENCHMARK(BM_SampleInputNotifyRecording)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
