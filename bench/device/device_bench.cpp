// The device's per-pass work on the stage scene (10 subjects x 60 segments,
// 600 labelled and 1000 unlabelled markers), bound: one evaluation pass
// writing every node, and one input pass taking a sample in while the host
// records (1 200 segment keys and 600 marker keys).
#include <benchmark/benchmark.h>

#include <fbhost/clock.h>
#include <fbhost/devices.h>
#include <fbhost/engine.h>

#include "device_stage.h"

namespace {

using orbel::device_bench::Stage;

Stage& TheStage() {
  static Stage stage;
  return stage;
}

OrbelSimpleDeviceOptical* BoundDevice() {
  OrbelSimpleDeviceOptical* device = TheStage().FreshDevice();
  if (device == nullptr || !TheStage().WaitForNewFrame() ||
      !fbhost::BindTemplate(device, 0, nullptr)) {
    return nullptr;
  }
  return device;
}

void BM_NodeEvaluateNotify(benchmark::State& state) {
  OrbelSimpleDeviceOptical* device = BoundDevice();
  if (device == nullptr) {
    state.SkipWithError("no bound device on the stage scene");
    return;
  }
  FBEvaluateInfo info(FBTime(), FBTime(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(device->NodeEvaluateNotify(nullptr, &info));
  state.counters["nodes"] = static_cast<double>(device->AnimationNodeOutCount());
}
BENCHMARK(BM_NodeEvaluateNotify)->Unit(benchmark::kMicrosecond);

void BM_SampleInputNotifyRecording(benchmark::State& state) {
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  OrbelSimpleDeviceOptical* device = BoundDevice();
  if (device == nullptr) {
    state.SkipWithError("no bound device on the stage scene");
    return;
  }
  device->Recording = true;
  fbhost::TransportRecord();
  std::int64_t samples = -fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  for (auto _ : state) {
    // Past the reader's fetch interval, so that every pass takes a sample.
    clock.AdvanceMilliSeconds(12);
    fbhost::NotifySampleInput(device, 1);
  }
  samples += fbhost::GetDeviceStatistics(device).samplesAcknowledged;
  fbhost::TransportStop();
  state.counters["samples"] = static_cast<double>(samples);
}
// Every pass adds 1 800 keys to the take; a bounded run keeps it small.
BENCHMARK(BM_SampleInputNotifyRecording)->Unit(benchmark::kMicrosecond)->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
