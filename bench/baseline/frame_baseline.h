// The yardstick every per-frame benchmark is held against: copying one
// frame's payload (the encoded frame of a synthetic scene preset, as the
// server sends it) with memcpy, measured in the same process as the
// benchmark that reports a ratio to it.
//
// The copy that counts is one from memory to memory: a new frame arrives
// from the network, not from a cache that already holds it, so the copies
// walk buffers much larger than the last-level cache. The same copy with
// warm caches is measured too and reported beside it.
#pragma once

#include <cstddef>
#include <string>

#include <benchmark/benchmark.h>

namespace orbel::bench {

struct FrameBaseline {
  std::size_t payloadBytes = 0;  // 0 when the preset is unknown
  double memcpyNs = 0;           // one memcpy of payloadBytes, memory to memory
  double memcpyWarmNs = 0;       // the same, source and target in cache
};

// Measured once per preset and process; later calls answer the same figures.
const FrameBaseline& Baseline(const std::string& preset);

// The presets the benchmarks run on, by benchmark argument: 0 small, 1 stage,
// 2 stage4x (four stages: per-frame costs should grow no faster than it).
const char* PresetName(std::int64_t arg);

// Adds "payload_KB", "memcpy_ns" (memory to memory) and "x_memcpy" (time per iteration over one
// memcpy of the payload, in the benchmark's own time: CPU, or real time with
// UseRealTime) to the state's counters. Call after the timed loop.
void ReportMemcpyRatio(benchmark::State& state, const std::string& preset);

}  // namespace orbel::bench
