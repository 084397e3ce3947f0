// The device's per-pass work on the small scene (argument 0: 2 subjects x
// 20 segments, 80 labelled and 100 unlabelled markers), the stage scene
// (argument 1: 10 x 60 segments, 600 labelled and 1000 unlabelled markers)
// and four stages (argument 2: 40 x 60 segments, 2400 and 4000), bound: one
// evaluation pass writing every node, and one input pass taking a sample in
// while the host records (every segment's two keys and every labelled
// marker's key). Each carries its ratio to one memcpy of the frame's payload
// (x_memcpy); the recording pass also its time per key (ns_per_key: the
// whole pass, the frame's read included, over its keys) and what keying
// adds per key (ns_per_key_added: the pass's time less that of an
// unkeyed pass on the same stage, the device's Recording off, just before
// it, over the keys), with the 99th percentile and the longest of its
// passes (p99_us, max_us).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <fbhost/clock.h>
#include <fbhost/devices.h>
#include <fbhost/engine.h>
#include <fbsdk/fbsystem.h>
#include <fbsdk/fbtake.h>

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
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  OrbelSimpleDeviceOptical* device = BoundDevice(TheStage(preset));
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  // One sample taken in first: a record that no frame has filled is not
  // written, and a pass over those alone would time the walk without the
  // writes.
  for (int pass = 0; pass < 10 && fbhost::GetDeviceStatistics(device).samplesAcknowledged == 0;
       ++pass) {
    TheStage(preset).WaitForNewFrame();
    clock.AdvanceMilliSeconds(12);
    fbhost::NotifySampleInput(device, 0);
  }
  if (fbhost::GetDeviceStatistics(device).samplesAcknowledged == 0) {
    state.SkipWithError("no sample taken in");
    return;
  }
  FBEvaluateInfo info(FBTime(), FBTime(), 1);
  for (auto _ : state) benchmark::DoNotOptimize(device->NodeEvaluateNotify(nullptr, &info));
  state.counters["nodes"] = static_cast<double>(device->AnimationNodeOutCount());
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_NodeEvaluateNotify)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// Every key of the current take.
double TakeKeys() {
  FBTake* take = FBSystem().CurrentTake;
  double keys = 0;
  if (take == nullptr) return keys;
  for (const FBTakeCurve& curve : take->GetCurves()) keys += curve.keyCount;
  return keys;
}

// One input pass past the reader's fetch interval; the caller first waits
// for a new frame from the server, so that every pass takes a sample (a
// pass with no new frame takes none). Answers the pass's time in
// nanoseconds.
double TimedSamplePass(OrbelSimpleDeviceOptical* device, fbhost::ManualClock& clock) {
  clock.AdvanceMilliSeconds(12);
  const auto start = std::chrono::steady_clock::now();
  fbhost::NotifySampleInput(device, 1);
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
}

void BM_SampleInputNotifyRecording(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  fbhost::ManualClock clock(FBTime::FromMilliSeconds(1000));
  fbhost::ScopedClock scoped(clock);
  OrbelSimpleDeviceOptical* device = BoundDevice(TheStage(preset));
  if (device == nullptr) {
    state.SkipWithError("no bound device");
    return;
  }
  Stage& stage = TheStage(preset);
  device->Recording = true;
  fbhost::TransportRecord();
  auto acks = [device] { return fbhost::GetDeviceStatistics(device).samplesAcknowledged; };
  std::int64_t samples = 0;
  std::int64_t streamingSamples = 0;
  double recordingNs = 0;
  double streamingNs = 0;
  const double keysBefore = TakeKeys();
  std::vector<double> passNs;
  passNs.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    // Untimed, before each keyed pass: the same pass with the device not
    // keying (what the frame's read and the rest cost without a key),
    // paired with it so that both see the machine alike.
    state.PauseTiming();
    device->Recording = false;
    stage.WaitForNewFrame();
    std::int64_t before = acks();
    streamingNs += TimedSamplePass(device, clock);
    streamingSamples += acks() - before;
    device->Recording = true;
    stage.WaitForNewFrame();
    state.ResumeTiming();
    before = acks();
    passNs.push_back(TimedSamplePass(device, clock));
    recordingNs += passNs.back();
    samples += acks() - before;
  }
  fbhost::TransportStop();
  const double keys = TakeKeys() - keysBefore;
  state.counters["samples"] = static_cast<double>(samples);
  state.counters["keys_per_sample"] = samples > 0 ? keys / static_cast<double>(samples) : 0;
  // Time over keys: the pass's whole cost (the frame's fetch included) per key.
  if (keys > 0) {
    state.counters["ns_per_key"] =
        benchmark::Counter(keys * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  if (keys > 0 && samples > 0 && streamingSamples > 0) {
    const double perSample = recordingNs / static_cast<double>(samples) -
                             streamingNs / static_cast<double>(streamingSamples);
    state.counters["ns_per_key_added"] = perSample * static_cast<double>(samples) / keys;
  }
  // A stall of one pass (a page fault storm, a lock) hides in the mean.
  if (!passNs.empty()) {
    std::sort(passNs.begin(), passNs.end());
    state.counters["p99_us"] = passNs[passNs.size() * 99 / 100] / 1000;
    state.counters["max_us"] = passNs.back() / 1000;
  }
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
// Every pass adds a key per recorded node to the take; a bounded run keeps
// it small.
BENCHMARK(BM_SampleInputNotifyRecording)
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
