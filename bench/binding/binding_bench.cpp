// Binding a scene preset (argument 0 small, 1 stage: 10 subjects x 60
// segments, 600 labelled and 1000 unlabelled markers, 2 four stages): the
// first bind, which makes every template and model (about 2 200 on the
// stage), and a rebind, which finds them all again. Each carries its ratio
// to one memcpy of the preset's frame payload (x_memcpy), so that the
// growth from stage to four stages reads as a ratio too.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include <fbhost/devices.h>

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

void BM_FirstBind(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Stage& stage = TheStage(preset);
  int unread = 0;
  for (auto _ : state) {
    state.PauseTiming();
    OrbelSimpleDeviceOptical* device = stage.FreshDevice();
    if (device == nullptr || !stage.WaitForNewFrame()) {
      state.SkipWithError("no started device on the scene");
      break;
    }
    state.ResumeTiming();
    benchmark::DoNotOptimize(fbhost::BindTemplate(device, 0, nullptr));
    state.PauseTiming();
    // On a loaded machine the frame may come late; a bind without one reads
    // no description, makes almost nothing and would flatter the figure.
    if (device->ModelTemplate[0]->Children.GetCount() == 0) ++unread;
    state.ResumeTiming();
  }
  if (unread > 0) state.SkipWithError("a bind found no new frame to read the scene from");
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_FirstBind)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Rebind(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  Stage& stage = TheStage(preset);
  OrbelSimpleDeviceOptical* device = stage.FreshDevice();
  if (device == nullptr || !stage.WaitForNewFrame() || !fbhost::BindTemplate(device, 0, nullptr)) {
    state.SkipWithError("no bound device on the scene");
    return;
  }
  FBModel* root = device->ModelTemplate[0]->Model;
  for (auto _ : state) {
    state.PauseTiming();
    stage.WaitForNewFrame();
    state.ResumeTiming();
    benchmark::DoNotOptimize(fbhost::BindTemplate(device, 0, root));
  }
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_Rebind)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
