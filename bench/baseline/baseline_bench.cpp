// One memcpy of a frame's payload for each scene preset: the figure every
// other per-frame benchmark reports its ratio ("x_memcpy") against.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "frame_baseline.h"

namespace {

void BM_MemcpyFramePayload(benchmark::State& state) {
  const char* preset = orbel::bench::PresetName(state.range(0));
  const std::size_t bytes = orbel::bench::Baseline(preset).payloadBytes;
  std::vector<unsigned char> source(bytes, 1);
  std::vector<unsigned char> target(bytes);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.SetLabel(preset);
  orbel::bench::ReportMemcpyRatio(state, preset);
}
BENCHMARK(BM_MemcpyFramePayload)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
