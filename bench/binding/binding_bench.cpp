// Binding the stage scene (10 subjects x 60 segments, 600 labelled and 1000
// unlabelled markers): the first bind, which makes about 2 200 templates and
// models, and a rebind, which finds them all again.
#include <benchmark/benchmark.h>

#include <fbhost/devices.h>

#include "device_stage.h"

namespace {

using orbel::device_bench::Stage;

Stage& TheStage() {
  static Stage stage;
  return stage;
}

void BM_FirstBind(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    OrbelSimpleDeviceOptical* device = TheStage().FreshDevice();
    if (device == nullptr || !TheStage().WaitForNewFrame()) {
      state.SkipWithError("no started device on the stage scene");
      break;
    }
    state.ResumeTiming();
    benchmark::DoNotOptimize(fbhost::BindTemplate(device, 0, nullptr));
  }
}
BENCHMARK(BM_FirstBind)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Rebind(benchmark::State& state) {
  OrbelSimpleDeviceOptical* device = TheStage().FreshDevice();
  if (device == nullptr || !TheStage().WaitForNewFrame() ||
      !fbhost::BindTemplate(device, 0, nullptr)) {
    state.SkipWithError("no bound device on the stage scene");
    return;
  }
  FBModel* root = device->ModelTemplate[0]->Model;
  for (auto _ : state) {
    state.PauseTiming();
    TheStage().WaitForNewFrame();
    state.ResumeTiming();
    benchmark::DoNotOptimize(fbhost::BindTemplate(device, 0, root));
  }
}
BENCHMARK(BM_Rebind)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
